#include "app/logiciel.h"

void Tlogiciel::connect_session_components() {}
void Tlogiciel::Identification_bouton_connexionClick() {}
void Tlogiciel::start_session() {}
void Tlogiciel::Bouton_retourClick() {}
void Tlogiciel::CheckBox_EmploiClick() {}
void Tlogiciel::CheckBox_InternetClick() {}
void Tlogiciel::Timer1Timer() {}
void Tlogiciel::end_session() {}
void Tlogiciel::Compteur_Bouton_deconnexionClick() {}
void Tlogiciel::Dconnexion1Click() {}
void Tlogiciel::minimise_to_tray() {}
void Tlogiciel::restore_from_tray() {}
