#include "app/logiciel.h"

void Tlogiciel::connect_registration_components() {}
void Tlogiciel::Identification_bouton_inscriptionClick() {}
void Tlogiciel::Inscription_ComboBox_villeChange() {}
void Tlogiciel::Bouton_valider_inscriptionClick() {}
void Tlogiciel::reset_registration_form() {}
