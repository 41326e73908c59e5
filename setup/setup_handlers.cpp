#include "app/logiciel.h"

void Tlogiciel::connect_setup_components() {}
void Tlogiciel::Paramtres1Click() {}
void Tlogiciel::fill_setup_screen() {}
void Tlogiciel::Parametrage_combobox_nom_posteChange() {}
void Tlogiciel::Parametrage_bouton_actualiser_nom_posteClick() {}
void Tlogiciel::Parametrage_bouton_aide_adresse_macClick() {}
void Tlogiciel::Bouton_valider_parametrageClick() {}
void Tlogiciel::Bouton_retour_parametrageClick() {}
