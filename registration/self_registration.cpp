#include "registration/self_registration.h"

#include "fonction/conversion.h"
#include "fonction/registration_queries.h"
#include "fonction/registration_text.h"
#include "fonction/text.h"
#include "registration/inscription.h"
#include "ui_inscription.h"
#include "window/guarded.h"
#include "window/message_box.h"
#include "window/radio_buttons.h"
#include "window/station_window.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QStringList>

#include <vector>

namespace {

// The groups of the form, in the order their position is stored.
std::vector<QRadioButton*> csp_buttons(Ui::Inscription* f) {
    return {f->Inscription_radio_eleve,    f->Inscription_radio_collegien, f->Inscription_radio_lyceen,
            f->Inscription_radio_etudiant, f->Inscription_radio_demandeur, f->Inscription_radio_agriculteur,
            f->Inscription_radio_artisant, f->Inscription_radio_cadre,     f->Inscription_radio_profinter,
            f->Inscription_radio_employe,  f->Inscription_radio_ouvrier,   f->Inscription_radio_retraite};
}
std::vector<QRadioButton*> equipment_buttons(Ui::Inscription* f) {
    return {f->Inscription_radio_aucun, f->Inscription_radio_ordinateur, f->Inscription_radio_internet};
}
std::vector<QRadioButton*> usage_place_buttons(Ui::Inscription* f) {
    return {f->Inscription_radio_aucunlieu, f->Inscription_radio_maison, f->Inscription_radio_bureau,
            f->Inscription_radio_maison_bureau};
}
std::vector<QRadioButton*> knowledge_buttons(Ui::Inscription* f) {
    return {f->Inscription_radio_debutant, f->Inscription_radio_Intermediaire, f->Inscription_radio_confirme};
}
QString knowledge_text_of(int position) {
    switch (position) {
    case 0:
        return QStringLiteral("Débutant");
    case 1:
        return QStringLiteral("Intermédiaire");
    default:
        return QStringLiteral("Confirmé");
    }
}

// Position of the first checked button, -1 when none is.
int checked_position(const std::vector<QRadioButton*>& group) {
    for (std::size_t i = 0; i < group.size(); ++i) {
        if (group[i]->isChecked()) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// The edits shown and read in upper case use the code page's mapping, one character for one, so the
// shown text is the stored one; characters outside the code page are left as typed.
QString upper_case_shown(const QString& text) {
    QString out = text;
    for (qsizetype i = 0; i < out.size(); ++i) {
        const std::string byte = to_cp1252(QString(out.at(i)));
        if (byte.size() == 1 && (byte[0] != '?' || out.at(i) == QLatin1Char('?'))) {
            out[i] = from_cp1252(std::string(1, upper_case_char(byte[0]))).at(0);
        }
    }
    return out;
}

void keep_upper_case(QLineEdit* edit) {
    QObject::connect(edit, &QLineEdit::textChanged, edit, [edit](const QString& text) {
        const QString upper = upper_case_shown(text);
        if (upper != text) {
            const int cursor = edit->cursorPosition();
            edit->setText(upper);
            edit->setCursorPosition(cursor);
        }
    });
}

std::string line_text(const QLineEdit* edit) {
    return to_cp1252(edit->text());
}

// A memo's text with '\n' between its lines; an empty memo has no line.
std::string memo_text(const QPlainTextEdit* memo) {
    return to_cp1252(memo->toPlainText());
}

} // namespace

SelfRegistration::SelfRegistration(StationWindow& window, StationWorker& worker, QWidget* inscription_button,
                                   QWidget* panels_parent)
    : window_(window), inscription_button_(inscription_button), inscription_(new Inscription(panels_parent)),
      operation_(worker, window.widget()) {
    connect_components();
}

void SelfRegistration::guard(void (SelfRegistration::*handler)()) {
    guarded(window_.widget(), [this, handler] { (this->*handler)(); });
}

void SelfRegistration::fill_city_list(const std::vector<std::string>& names) {
    QComboBox* list = inscription_->ui()->Inscription_ComboBox_ville;
    list->clear();
    QStringList items;
    items.reserve(static_cast<qsizetype>(names.size()));
    for (const std::string& name : names) {
        items.append(from_cp1252(name));
    }
    list->addItems(items);
    // Adding the first item selects it; the visitor chooses the town.
    list->setCurrentIndex(-1);
}

void SelfRegistration::connect_components() {
    auto* f = inscription_->ui();
    connect(f->Inscription_ComboBox_ville, &QComboBox::currentIndexChanged, this,
            [this] { guard(&SelfRegistration::Inscription_ComboBox_villeChange); });
    connect(f->Bouton_valider_inscription, &QPushButton::clicked, this,
            [this] { guard(&SelfRegistration::Bouton_valider_inscriptionClick); });
    connect(f->Bouton_retour_inscription, &QPushButton::clicked, this,
            [this] { guard(&SelfRegistration::reset_registration_form); });

    // The edits hold no more than the registration keeps.
    f->Inscription_Nom->setMaxLength(static_cast<int>(registration_capacity::name));
    f->Inscription_Prenom->setMaxLength(static_cast<int>(registration_capacity::name));
    f->Inscription_ville->setMaxLength(static_cast<int>(registration_capacity::name));
    f->Inscription_Code_postal->setMaxLength(static_cast<int>(registration_capacity::postcode));
    f->Inscription_tel->setMaxLength(static_cast<int>(registration_capacity::telephone));
    f->Inscription_tel_port->setMaxLength(static_cast<int>(registration_capacity::telephone));
    f->Inscription_mail->setMaxLength(static_cast<int>(registration_capacity::mail));
    keep_upper_case(f->Inscription_Nom);
    keep_upper_case(f->Inscription_Prenom);
    keep_upper_case(f->Inscription_ville);
}

void SelfRegistration::Identification_bouton_inscriptionClick() {
    using Names = std::vector<std::string>;
    operation_.start<Names>(
        inscription_button_, Names{},
        // One connection for the whole list: a town at a time, a room with a thousand towns froze the form.
        [](DbLink& link, Names& names) { read_city_names(link, names); },
        [this, same = same_screen(window_)] { return same() && inscription_->isHidden(); },
        [this](Names& names, std::exception_ptr error) {
            auto* f = inscription_->ui();
            if (error) {
                std::rethrow_exception(error);
            }
            fill_city_list(names);
            f->Inscription_ville->hide();
            f->Inscription_ville_label->hide();
            window_.clear_login();
            window_.show_only(inscription_);
        });
}

void SelfRegistration::Inscription_ComboBox_villeChange() {
    auto* f = inscription_->ui();
    const bool other = f->Inscription_ComboBox_ville->currentText().compare(QStringLiteral("Autres"),
                                                                            Qt::CaseInsensitive) == 0;
    f->Inscription_ville->setVisible(other);
    f->Inscription_ville_label->setVisible(other);
}

void SelfRegistration::Bouton_valider_inscriptionClick() {
    auto* f = inscription_->ui();
    const int csp = checked_position(csp_buttons(f));
    const int equipment = checked_position(equipment_buttons(f));
    const int usage_place = checked_position(usage_place_buttons(f));
    const int knowledge = checked_position(knowledge_buttons(f));
    QString missing;
    if (f->Inscription_Nom->text().isEmpty()) {
        missing = QStringLiteral("remplissez le nom");
    } else if (f->Inscription_Prenom->text().isEmpty()) {
        missing = QStringLiteral("remplissez le prénom");
    } else if (!f->Inscription_radio_homme->isChecked() && !f->Inscription_radio_femme->isChecked()) {
        missing = QStringLiteral("remplissez la civilité");
    } else if (f->Inscription_ComboBox_jour->currentIndex() < 0 ||
               f->Inscription_ComboBox_mois->currentIndex() < 0 || f->Inscription_annee->text().isEmpty()) {
        missing = QStringLiteral("remplissez votre date de naissance");
    } else if (f->Inscription_Code_postal->text().isEmpty()) {
        missing = QStringLiteral("remplissez votre code postal");
    } else if (f->Inscription_ComboBox_ville->currentIndex() < 0) {
        missing = QStringLiteral("remplissez votre ville");
    } else if (csp < 0) {
        missing = QStringLiteral("remplissez votre catégorie socio-professionnelle");
    } else if (equipment < 0) {
        missing = QStringLiteral("remplissez votre équipement");
    } else if (usage_place < 0) {
        missing = QStringLiteral("remplissez le lieu d'utilisation");
    } else if (knowledge < 0) {
        missing = QStringLiteral("remplissez votre connaissance");
    }
    if (!missing.isEmpty()) {
        show_message(window_.widget(), missing);
        return;
    }

    // A year that is not a whole number raises ConversionError here, before anything is asked or written.
    RegistrationValues v;
    v.surname = upper_case(line_text(f->Inscription_Nom));
    v.first_name = capitalise(line_text(f->Inscription_Prenom));
    v.sex_code = f->Inscription_radio_homme->isChecked() ? 0 : 1;
    v.csp_code = csp;
    v.equipment_code = equipment;
    v.usage_place_code = usage_place;
    v.knowledge_text = to_cp1252(knowledge_text_of(knowledge));
    v.birth_day = f->Inscription_ComboBox_jour->currentIndex() + 1;
    v.birth_month = f->Inscription_ComboBox_mois->currentIndex() + 1;
    v.birth_year = to_int(line_text(f->Inscription_annee).c_str());

    // What the form holds now is what is written, however long the server takes.
    Registration r;
    r.town = to_cp1252(f->Inscription_ComboBox_ville->currentText());
    const std::string other_town = line_text(f->Inscription_ville);
    if (!other_town.empty()) {
        r.other_town = capitalise(upper_case(other_town));
    }
    v.address = join_lines(memo_text(f->Inscription_richedit_adresse), registration_capacity::address);
    v.postcode = line_text(f->Inscription_Code_postal);
    v.telephone = line_text(f->Inscription_tel);
    v.mobile = line_text(f->Inscription_tel_port);
    v.mail = line_text(f->Inscription_mail);
    v.info = join_lines(memo_text(f->Inscription_memo_info), registration_capacity::info);
    r.values = v;
    operation_.start<Registration>(
        f->Bouton_valider_inscription, std::move(r),
        [](DbLink& link, Registration& r) { register_person(link, r); }, same_screen(window_, inscription_),
        [this](Registration& r, std::exception_ptr error) {
            if (error) {
                std::rethrow_exception(error);
            }
            if (!r.written) {
                // Known already (as an account or a pending registration), no login free, or nothing
                // written: the visitor keeps what was typed, and staff can help.
                show_message(window_.widget(), QStringLiteral("contacter l'animateur"));
                return;
            }
            show_message(
                window_.widget(),
                QStringLiteral("Votre inscription est enregistré. Veuillez dès à présent prévenir votre "
                               "animateur pour qu'il la valide. L'identifiant par défaut est %1 et votre mot "
                               "de passe par défaut se compose des 8 chiffres de votre date de naissance")
                    .arg(from_cp1252(r.values.login.str())));
            reset_registration_form();
        });
}

void SelfRegistration::register_person(DbLink& link, Registration& r) {
    RegistrationValues& v = r.values;
    person_already_known(link, v.surname.c_str(), v.first_name.c_str(), v.sex_letter(), v.birth_day,
                         v.birth_month, v.birth_year, v.person_known);
    if (v.person_known == 1) {
        return;
    }
    if (!find_free_login(link, v.first_name.str(), v.surname.str(), v.login)) {
        return;
    }
    v.login_free = 1;
    v.digest = password_digest(birth_digits(v.birth_day, v.birth_month, v.birth_year));
    city_id_of_name(link, r.town.c_str(), v.id_city);
    if (!r.other_town.empty()) {
        v.other_town = r.other_town;
        city_id_of_name(link, v.other_town.c_str(), v.id_city);
    }
    r.written = insert_registration(link, v);
}

void SelfRegistration::reset_registration_form() {
    auto* f = inscription_->ui();
    window_.show_login();
    f->Inscription_Nom->clear();
    f->Inscription_Prenom->clear();
    uncheck_all({f->Inscription_radio_homme, f->Inscription_radio_femme});
    f->Inscription_ComboBox_jour->setCurrentIndex(-1);
    f->Inscription_ComboBox_mois->setCurrentIndex(-1);
    f->Inscription_annee->clear();
    f->Inscription_richedit_adresse->clear();
    f->Inscription_Code_postal->clear();
    // The town list stays; only the choice goes. Its change handler leaves the other-town field alone
    // until the next opening hides it.
    {
        const QSignalBlocker quiet(f->Inscription_ComboBox_ville);
        f->Inscription_ComboBox_ville->setCurrentIndex(-1);
    }
    f->Inscription_ville->clear();
    f->Inscription_tel->clear();
    f->Inscription_tel_port->clear();
    f->Inscription_mail->clear();
    f->Inscription_memo_info->clear();
    uncheck_all(csp_buttons(f));
    uncheck_all(equipment_buttons(f));
    uncheck_all(usage_place_buttons(f));
    uncheck_all(knowledge_buttons(f));
}
