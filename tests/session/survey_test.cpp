#include "session/compteur_temps.h"
#include "session/renseignement.h"
#include "tests/support/station_fixture.h"
#include "ui_renseignement.h"

#include <QAccessible>
#include <QCheckBox>

#include <functional>
#include <utility>

namespace {

// The answers as the room's administration stores them, spelled as the survey shows them.
const std::vector<std::string> kCaptions = {
    "Bureautique",
    "Emploi",
    "Consultation/actualisation du dossier de demandeur d'emploi",
    "Recherche d'information",
    "CV, Lettre de motivation",
    "Recherches et consultations d'offres, candidature",
    "Démarches de création ou reprise d'entreprise",
    "Suivi de candidatures",
    "Démarches professionnelles (déclarations sociale...)",
    "Internet",
    "Vie quotidienne, loisirs, sport, vacances",
    "Enseignement, formation, métier",
    "E-administration",
    "E-commerce",
    "Services numériques scolaires",
    "Autres",
};

class Survey : public StationTest {
  protected:
    void SetUp() override {
        StationTest::SetUp();
        REQUIRE_SERVER();
        with_database();
        for (const std::string& caption : kCaptions) {
            db->exec("INSERT INTO tab_utilisation (nom_utilisation) VALUES (" + sql_quoted(caption) + ")");
        }
        add_room("Espace Jean Moulin", "Poste-01", 1, "1, 1, 1, 0, 0, 1");
        start();
        id_user = add_user("mdurand", "soleil");
        sign_in(QStringLiteral("mdurand"), QStringLiteral("soleil"));
        ASSERT_TRUE(messages.empty());
        ASSERT_TRUE(window->renseignement()->isVisible());
    }
    Ui::Renseignement* r() const { return window->renseignement()->ui(); }
    std::vector<QCheckBox*> group(int first, int last) const {
        std::vector<QCheckBox*> boxes;
        for (int i = first; i <= last; ++i) {
            boxes.push_back(
                window->renseignement()->findChild<QCheckBox*>(QStringLiteral("CheckBox%1").arg(i)));
        }
        return boxes;
    }
    std::vector<int> tops(const std::vector<QCheckBox*>& boxes) const {
        std::vector<int> out;
        for (auto* b : boxes) {
            out.push_back(b->y());
        }
        return out;
    }
    bool all_visible(const std::vector<QCheckBox*>& boxes, bool visible) const {
        for (auto* b : boxes) {
            if (b->isVisible() != visible) {
                return false;
            }
        }
        return true;
    }
    std::vector<std::string> recorded_answers() {
        std::vector<std::string> names;
        for (const auto& row :
             db->rows("SELECT u.nom_utilisation FROM rel_utilisation_user r JOIN tab_utilisation "
                      "u ON u.id_utilisation = r.id_utilisation ORDER BY "
                      "r.id_rel_utilisation_user")) {
            names.push_back(row[0]);
        }
        return names;
    }
    int id_user = 0;
};

} // namespace

TEST_F(Survey, CaptionsAreTheAnswersStoredInTheDatabase) {
    std::vector<std::string> shown;
    for (QCheckBox* box : {r()->CheckBox_Bureautique, r()->CheckBox_Emploi}) {
        shown.push_back(box->text().toStdString());
    }
    for (QCheckBox* box : group(1, 7)) {
        shown.push_back(box->text().toStdString());
    }
    shown.push_back(r()->CheckBox_Internet->text().toStdString());
    for (QCheckBox* box : group(8, 12)) {
        shown.push_back(box->text().toStdString());
    }
    shown.push_back(r()->CheckBox_Autres->text().toStdString());
    EXPECT_EQ(shown, kCaptions);
}

TEST_F(Survey, ItOpensWithTheMainItemsOnlyAtTheirPlaces) {
    EXPECT_EQ(r()->CheckBox_Bureautique->pos(), QPoint(108, 140));
    EXPECT_EQ(r()->CheckBox_Emploi->pos(), QPoint(108, 172));
    EXPECT_EQ(r()->CheckBox_Internet->pos(), QPoint(108, 204));
    EXPECT_EQ(r()->CheckBox_Autres->pos(), QPoint(108, 236));
    EXPECT_EQ(r()->Label_Renseignement->pos(), QPoint(68, 108));
    EXPECT_TRUE(all_visible(group(1, 12), false));
    for (auto* b : group(1, 12)) {
        EXPECT_EQ(b->x(), 132);
        EXPECT_FALSE(b->isChecked());
    }
    EXPECT_EQ(db->count("tab_resa"), 0) << "no row before Valider";
}

TEST_F(Survey, TheGroupsOpenAndCloseWithTheirHeadsHoweverTheyAreChecked) {
    // A click (mouse or keyboard), then a screen reader's toggle action, which Qt carries out without
    // any click.
    int clicks = 0;
    for (QCheckBox* head : {r()->CheckBox_Emploi, r()->CheckBox_Internet}) {
        QObject::connect(head, &QCheckBox::clicked, head, [&clicks] { ++clicks; });
    }
    const std::vector<std::pair<const char*, std::function<void(QCheckBox*)>>> ways = {
        {"click", [](QCheckBox* box) { box->click(); }},
        {"screen reader",
         [](QCheckBox* box) {
             QAccessibleActionInterface* actions =
                 QAccessible::queryAccessibleInterface(box)->actionInterface();
             ASSERT_TRUE(actions->actionNames().contains(QAccessibleActionInterface::toggleAction()));
             actions->doAction(QAccessibleActionInterface::toggleAction());
         }},
    };
    for (const auto& [way, check] : ways) {
        SCOPED_TRACE(way);
        clicks = 0;
        check(r()->CheckBox_Emploi);
        EXPECT_TRUE(r()->CheckBox_Emploi->isChecked());
        EXPECT_TRUE(all_visible(group(1, 7), true));
        EXPECT_TRUE(r()->CheckBox3->isVisible());
        EXPECT_EQ(tops(group(1, 7)), (std::vector<int>{204, 236, 268, 300, 332, 364, 396}));
        EXPECT_EQ(r()->CheckBox_Internet->y(), 428);
        EXPECT_EQ(r()->CheckBox_Autres->y(), 460);

        check(r()->CheckBox_Internet);
        EXPECT_TRUE(all_visible(group(8, 12), true));
        EXPECT_EQ(tops(group(8, 12)), (std::vector<int>{460, 492, 524, 556, 588}));
        EXPECT_EQ(r()->CheckBox_Autres->y(), 620);

        check(r()->CheckBox_Emploi);
        EXPECT_TRUE(all_visible(group(1, 7), false));
        EXPECT_EQ(r()->CheckBox_Internet->y(), 204);
        EXPECT_EQ(tops(group(8, 12)), (std::vector<int>{236, 268, 300, 332, 364}));
        EXPECT_EQ(r()->CheckBox_Autres->y(), 396);

        check(r()->CheckBox_Internet);
        EXPECT_TRUE(all_visible(group(8, 12), false));
        EXPECT_EQ(r()->CheckBox_Autres->y(), 236);
        EXPECT_EQ(r()->CheckBox_Emploi->pos(), QPoint(108, 172)) << "the heads' lefts never move";
        EXPECT_EQ(clicks, std::string(way) == "click" ? 4 : 0);
    }
}

TEST_F(Survey, TheProgramsOwnUnchecksMoveNothing) {
    // Retour with the Internet group open: the next survey unchecks it and leaves its hidden boxes where
    // they stood.
    r()->CheckBox_Internet->click();
    r()->Bouton_retour->click();
    sign_in(QStringLiteral("mdurand"), QStringLiteral("soleil"));
    ASSERT_FALSE(r()->CheckBox_Internet->isChecked());
    EXPECT_EQ(tops(group(8, 12)), (std::vector<int>{236, 268, 300, 332, 364}));
    EXPECT_TRUE(all_visible(group(8, 12), false));
    EXPECT_EQ(r()->CheckBox_Internet->pos(), QPoint(108, 204));
    EXPECT_EQ(r()->CheckBox_Autres->pos(), QPoint(108, 236));

    // Valider unchecks each recorded box and leaves the survey as the visitor laid it out.
    r()->CheckBox_Emploi->click();
    r()->CheckBox_Internet->click();
    r()->Bouton_valider->click();
    EXPECT_EQ(recorded_answers(), (std::vector<std::string>{"Emploi", "Internet"}));
    EXPECT_FALSE(r()->CheckBox_Emploi->isChecked());
    EXPECT_TRUE(r()->CheckBox8->isVisibleTo(window->renseignement()));
    EXPECT_EQ(r()->CheckBox_Autres->y(), 620);
}

TEST_F(Survey, ValiderRecordsEveryCheckedBoxInBoxOrderHiddenOnesIncluded) {
    r()->CheckBox_Autres->click();
    r()->CheckBox_Emploi->click();
    r()->CheckBox2->click();       // "Recherche d'information"
    r()->CheckBox_Emploi->click(); // closes the group: CheckBox2 stays checked
    r()->CheckBox_Bureautique->click();
    r()->Bouton_valider->click();

    EXPECT_EQ(recorded_answers(),
              (std::vector<std::string>{"Bureautique", "Recherche d'information", "Autres"}));
    for (const auto& row : db->rows("SELECT id_user, date_utilisation FROM rel_utilisation_user")) {
        EXPECT_EQ(row, (std::vector<std::string>{std::to_string(id_user), "2026-12-09"}));
    }
    EXPECT_EQ(db->count("tab_resa"), 1);
    EXPECT_FALSE(r()->CheckBox2->isChecked()) << "each recorded box is unchecked";
    EXPECT_FALSE(window->renseignement()->isVisible());
    EXPECT_TRUE(window->compteur_temps()->isVisible());
    EXPECT_TRUE(window->Timer1.isActive());
}

TEST_F(Survey, EveryBoxCanBeRecorded) {
    r()->CheckBox_Emploi->click();
    r()->CheckBox_Internet->click();
    for (QCheckBox* box : window->renseignement()->findChildren<QCheckBox*>()) {
        box->setChecked(true);
    }
    r()->Bouton_valider->click();
    EXPECT_EQ(recorded_answers(), kCaptions);
}

TEST_F(Survey, ValiderWithNothingCheckedWritesOnlyTheSessionRow) {
    r()->Bouton_valider->click();
    EXPECT_EQ(db->count("tab_resa"), 1);
    EXPECT_EQ(db->count("rel_utilisation_user"), 0);
}

TEST_F(Survey, RetourWritesNothingAndTheNextSurveyStartsUnchecked) {
    r()->CheckBox_Bureautique->click();
    r()->Bouton_retour->click();
    EXPECT_EQ(db->count("tab_resa"), 0);
    EXPECT_EQ(db->count("rel_utilisation_user"), 0);
    EXPECT_TRUE(window->identification()->isVisible());
    EXPECT_FALSE(window->renseignement()->isVisible());
    EXPECT_TRUE(r()->CheckBox_Bureautique->isChecked()) << "Retour keeps the boxes";
    EXPECT_TRUE(id()->Identification_bouton_inscription->isVisible());

    sign_in(QStringLiteral("mdurand"), QStringLiteral("soleil"));
    EXPECT_FALSE(r()->CheckBox_Bureautique->isChecked());
    EXPECT_TRUE(window->renseignement()->isVisible());
}

TEST_F(Survey, AnAnswerMissingFromTheDatabaseDoesNotStopTheOthers) {
    db->exec("DELETE FROM tab_utilisation WHERE nom_utilisation='Bureautique'");
    r()->CheckBox_Bureautique->click();
    r()->CheckBox_Autres->click();
    r()->Bouton_valider->click();
    EXPECT_EQ(recorded_answers(), (std::vector<std::string>{"Autres"}));
}
