// Every screen as a screen reader and a keyboard meet it: each control is announced by its caption or
// its label, and Tab goes through the controls in the order the screen shows them.
#include "registration/inscription.h"
#include "room/room_view.h"
#include "room/salle.h"
#include "session/compteur_temps.h"
#include "session/renseignement.h"
#include "setup/parametrage.h"
#include "tests/support/station_fixture.h"
#include "ui_inscription.h"
#include "ui_renseignement.h"
#include "ui_salle.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QComboBox>
#include <QLabel>

#include <algorithm>
#include <functional>
#include <set>

namespace {

// The kinds of control a person works with: edits, lists, memos, check boxes, radio buttons, buttons,
// number fields, tables.
bool is_control(QAccessible::Role role) {
    switch (role) {
    case QAccessible::SpinBox:
    case QAccessible::Table:
    case QAccessible::EditableText:
    case QAccessible::ComboBox:
    case QAccessible::CheckBox:
    case QAccessible::RadioButton:
    case QAccessible::PushButton:
    case QAccessible::ButtonMenu:
        return true;
    default:
        return false;
    }
}

// The shown controls, found as assistive technology finds them: through the accessibility tree.
void collect_controls(QAccessibleInterface* node, std::vector<QAccessibleInterface*>& out) {
    for (int i = 0; i < node->childCount(); ++i) {
        QAccessibleInterface* child = node->child(i);
        if (child == nullptr || child->state().invisible) {
            continue;
        }
        if (is_control(child->role())) {
            out.push_back(child);
        } else {
            collect_controls(child, out);
        }
    }
}

// A caption without its mnemonic marks ("&&" is a literal '&').
QString without_mnemonic(const QString& text) {
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('&') && i + 1 < text.size()) {
            ++i;
        }
        out.append(text.at(i));
    }
    return out;
}

// The name a control ought to have: its caption, else the label whose buddy it is, else (and only then)
// the accessible name its form gives it.
QString due_name(QWidget* control) {
    if (auto* button = qobject_cast<QAbstractButton*>(control);
        button != nullptr && !button->text().isEmpty()) {
        return without_mnemonic(button->text());
    }
    for (QLabel* label : control->window()->findChildren<QLabel*>()) {
        if (label->buddy() == control) {
            return without_mnemonic(label->text());
        }
    }
    return control->accessibleName();
}

// The name a screen reader announces. On Linux Qt names a list by its current item and gives its label as
// a relation, which is what the screen reader reads out before the item.
QString announced_name(QAccessibleInterface* control) {
    if (control->role() == QAccessible::ComboBox) {
        const auto labels = control->relations(QAccessible::Label);
        return labels.isEmpty() ? QString() : labels.first().first->text(QAccessible::Name);
    }
    return control->text(QAccessible::Name);
}

bool takes_tab(const QWidget* w) {
    return w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus) == Qt::TabFocus;
}

// The screen's reading order: top to bottom, then left to right; the controls of a group, a panel or a
// scrolled area come together, in the place of their container.
void in_screen_order(QWidget* container, const std::set<QWidget*>& wanted, std::vector<QWidget*>& out) {
    std::vector<QWidget*> children;
    for (QWidget* child : container->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->isVisible()) {
            children.push_back(child);
        }
    }
    std::stable_sort(children.begin(), children.end(), [](const QWidget* a, const QWidget* b) {
        return a->y() != b->y() ? a->y() < b->y() : a->x() < b->x();
    });
    for (QWidget* child : children) {
        if (wanted.count(child) != 0) {
            out.push_back(child);
        } else {
            in_screen_order(child, wanted, out);
        }
    }
}

// Where Tab goes within the panel, from `first` round to it again: Qt follows the window's focus chain
// and skips what cannot take the focus by Tab; a control that hands its focus on (a number field, to its
// edit) is reached through the one it hands it to.
std::vector<QWidget*> tab_order(QWidget* panel, QWidget* first) {
    std::vector<QWidget*> order{first};
    for (QWidget* w = first->nextInFocusChain(); w != first; w = w->nextInFocusChain()) {
        if (panel->isAncestorOf(w) && takes_tab(w) && w->focusProxy() == nullptr) {
            QWidget* owner = w->parentWidget();
            order.push_back(owner != nullptr && owner->focusProxy() == w ? owner : w);
        }
    }
    return order;
}

// One name a line, so that a failure shows where the orders part.
std::string names_of(const std::vector<QWidget*>& widgets) {
    std::string names;
    for (const QWidget* w : widgets) {
        names += w->objectName().toStdString() + "\n";
    }
    return names;
}

class Accessibility : public StationTest {
  protected:
    void expect_named_and_in_screen_order(QWidget* panel) {
        ASSERT_TRUE(panel->isVisible());
        std::vector<QAccessibleInterface*> controls;
        collect_controls(QAccessible::queryAccessibleInterface(panel), controls);
        ASSERT_FALSE(controls.empty());
        std::set<QWidget*> focusable;
        for (QAccessibleInterface* control : controls) {
            auto* widget = qobject_cast<QWidget*>(control->object());
            ASSERT_NE(widget, nullptr);
            const QString due = due_name(widget);
            EXPECT_FALSE(due.isEmpty()) << widget->objectName().toStdString() << " has no name";
            EXPECT_EQ(announced_name(control), due) << widget->objectName().toStdString();
            if (takes_tab(widget)) {
                focusable.insert(widget);
            }
        }
        std::vector<QWidget*> screen;
        in_screen_order(panel, focusable, screen);
        if (!screen.empty()) {
            EXPECT_EQ(names_of(tab_order(panel, screen.front())), names_of(screen));
        }
    }
    // As a screen reader checks a box.
    static void toggle(QAbstractButton* box) {
        QAccessible::queryAccessibleInterface(box)->actionInterface()->doAction(
            QAccessibleActionInterface::toggleAction());
    }
};

} // namespace

TEST_F(Accessibility, EveryControlIsNamedAndTabFollowsTheScreen) {
    REQUIRE_SERVER();
    with_database();
    add_room("Espace Jean Moulin", "Poste-01", 1, "1, 1, 1, 0, 0, 0");
    db->exec("INSERT INTO tab_message_kalimo (corp_message, espace_message, status_message) VALUES "
             "('Bonjour', '0', 0)");
    db->exec("INSERT INTO tab_city (nom_city) VALUES ('Lyon'), ('Autres')");
    add_user("mdurand", "soleil");
    add_user("animateur", "kalimo", 3);
    start();
    auto* r = window->renseignement()->ui();
    auto* f = window->inscription()->ui();
    QWidget* identification = window->identification();
    QWidget* inscription = window->inscription();
    QWidget* renseignement = window->renseignement();
    QWidget* compteur_temps = window->compteur_temps();
    QWidget* parametrage = window->parametrage();
    Ui::Salle* room = window->room().salle()->ui();
    const auto chord = [this] {
        window->Identification_labeledit_identifiantKeyDown(
            Qt::Key_Up, Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier);
    };
    struct Screen {
        const char* name;
        std::function<void()> bring;
        QWidget* panel;
    };
    const std::vector<Screen> screens = {
        {"welcome screen with the power buttons", chord, identification},
        {"registration", [this] { id()->Identification_bouton_inscription->click(); }, inscription},
        {"registration with another town",
         [f] {
             f->Inscription_ComboBox_ville->setCurrentIndex(
                 f->Inscription_ComboBox_ville->findText(QStringLiteral("Autres")));
         },
         inscription},
        {"survey",
         [this, f] {
             f->Bouton_retour_inscription->click();
             sign_in(QStringLiteral("mdurand"), QStringLiteral("soleil"));
         },
         renseignement},
        {"survey, Emploi open", [r] { toggle(r->CheckBox_Emploi); }, renseignement},
        {"survey, both groups open", [r] { toggle(r->CheckBox_Internet); }, renseignement},
        {"survey, Internet open", [r] { toggle(r->CheckBox_Emploi); }, renseignement},
        {"counter", [r] { r->Bouton_valider->click(); }, compteur_temps},
        {"staff login with the power buttons",
         [this, chord] {
             window->sessions().Compteur_Bouton_deconnexionClick();
             db->exec("UPDATE tab_computer SET usage_computer=2");
             window->start_station();
             chord();
         },
         identification},
        {"room view: the stations",
         [this] {
             db->write_staff_database_file();
             system.notification_area = true;
             sign_in(QStringLiteral("animateur"), QStringLiteral("kalimo"));
             window->Salle1->trigger();
         },
         room->Salle_page_postes},
        {"room view: the registrations", [room] { room->Salle_onglets->setCurrentIndex(1); },
         room->Salle_page_inscriptions},
        {"room view: the accounts", [room] { room->Salle_onglets->setCurrentIndex(2); },
         room->Salle_page_comptes},
        {"room view: the messages", [room] { room->Salle_onglets->setCurrentIndex(3); },
         room->Salle_page_message},
        {"set-up", [this] { window->Paramtres1->trigger(); }, parametrage},
        {"set-up without a server",
         [this] {
             folder.write_file("Configuration_Base_de_donnee.init", "absente\r\n127.0.0.1\r\nkalimo\r\nfaux");
             folder.write_file("Configuration_Poste_MAC.init", "");
             window->start_station();
         },
         parametrage},
    };
    for (const Screen& screen : screens) {
        SCOPED_TRACE(screen.name);
        screen.bring();
        ASSERT_TRUE(messages.empty());
        expect_named_and_in_screen_order(screen.panel);
    }
}
