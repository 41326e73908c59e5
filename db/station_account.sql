-- Kalimo station database account: the role kalimo_station, holding only what the station's own
-- statements need, table by table and column by column, in the database this file is loaded into.
--
-- Load it as an administrator into the room's database, after schema.sql (a grant names existing
-- tables), then give the role to the account the stations' database file names:
--
--   mariadb ROOMDB < db/station_account.sql
--   CREATE USER 'poste'@'192.168.10.%' IDENTIFIED BY '...';
--   GRANT kalimo_station TO 'poste'@'192.168.10.%';
--   SET DEFAULT ROLE kalimo_station FOR 'poste'@'192.168.10.%';
--
-- Every visitor is assumed to know that account's password: it is in a file on every station. So
-- the role has no global privilege, nothing on another database, no DELETE, no DDL, no UPDATE of an
-- account (tab_user), and no SELECT on what the station never reads of a registration (address,
-- phones, e-mail, free information). A column named in a WHERE or an ORDER BY needs SELECT on it.
-- The positional INSERTs (tab_resa, rel_utilisation_user) and the registration INSERT, which names
-- every column, take INSERT on the whole table.
--
-- Privileges cannot say which values a column may take, so two triggers refuse what would still
-- turn a station into another, to the stations' account only (a user name holding kalimo_station,
-- neither as that role's administrator nor beside kalimo_staff; the room's tools and administrators
-- are not held): a computer record whose MAC is not empty keeps its usage, MAC and name; a free one
-- is claimed only with usage 1 or 2 and a MAC no other record holds, as the identification compares
-- it; a session row whose status is not 0 keeps that status (never reopened; its duration may still
-- be written, as the station's late close does). The triggers run with the rights of the
-- administrator who loads the file, their definer: that account must stay, and read
-- mysql.roles_mapping. A room's own triggers on these tables stay beside them.
--
-- Loading it again changes nothing; loading it into a second database of the same server gives the
-- same role the same rights there. The triggers need DELIMITER, as the mariadb client reads it.

CREATE ROLE IF NOT EXISTS `kalimo_station`;

-- Identification by MAC, usage, name and room; the set-up screen's free records and its UPDATE; the
-- heartbeat.
GRANT SELECT (`id_computer`, `nom_computer`, `adresse_mac_computer`, `usage_computer`, `id_salle`),
      UPDATE (`usage_computer`, `adresse_mac_computer`, `adresse_ip_computer`, `nom_hote_computer`,
              `date_lastetat_computer`, `lastetat_computer`)
  ON `tab_computer` TO `kalimo_station`;

GRANT SELECT (`id_salle`, `id_espace`) ON `tab_salle` TO `kalimo_station`;

GRANT SELECT (`id_espace`, `nom_espace`) ON `tab_espace` TO `kalimo_station`;

GRANT SELECT (`id_espace`, `config_menu_logiciel`, `page_inscription_logiciel`, `page_renseignement_logiciel`,
              `bloquage_touche_logiciel`, `affichage_temps_logiciel`, `deconnexion_auto_logiciel`)
  ON `tab_config_logiciel` TO `kalimo_station`;

GRANT SELECT (`id_message`, `corp_message`, `espace_message`, `status_message`)
  ON `tab_message_kalimo` TO `kalimo_station`;

-- Sign-in (login, digest, status), the allowance, and the registration's checks for a person or a
-- login already known. Read only: no account is changed from a station.
GRANT SELECT (`id_user`, `login_user`, `pass_user`, `status_user`, `temps_user`, `nom_user`, `prenom_user`,
              `sexe_user`, `jour_naissance_user`, `mois_naissance_user`, `annee_naissance_user`)
  ON `tab_user` TO `kalimo_station`;

-- Open sessions and today's durations at sign-in, the status poll, the session's INSERT and its close.
GRANT SELECT (`id_resa`, `id_user_resa`, `date_resa`, `duree_resa`, `status_resa`),
      INSERT,
      UPDATE (`duree_resa`, `status_resa`)
  ON `tab_resa` TO `kalimo_station`;

GRANT SELECT (`id_utilisation`, `nom_utilisation`) ON `tab_utilisation` TO `kalimo_station`;

GRANT INSERT ON `rel_utilisation_user` TO `kalimo_station`;

GRANT SELECT (`id_city`, `nom_city`) ON `tab_city` TO `kalimo_station`;

-- The registration's INSERT, and its checks for a person or a login already waiting.
GRANT SELECT (`id_inscription_user`, `nom_inscription_user`, `prenom_inscription_user`, `sexe_inscription_user`,
              `jour_naissance_inscription_user`, `mois_naissance_inscription_user`,
              `annee_naissance_inscription_user`, `login_inscription_user`),
      INSERT
  ON `tab_inscription_user` TO `kalimo_station`;

-- The heartbeat, and every statement that leaves the usage, MAC and name as they are (the set-up's
-- Valider on the station's own record writes them again), costs three comparisons and no look-up.
-- Text compares as bytes, NULL-safe, whatever the room's collation; the claim's look-up compares as
-- the identification does (the column's collation), since that decides which record a MAC finds.
-- The caller's user name is USER() cut at its last '@' (inside a trigger CURRENT_USER() is the
-- definer and CURRENT_ROLE() is NULL).
DELIMITER //
CREATE OR REPLACE TRIGGER `kalimo_station_computer` BEFORE UPDATE ON `tab_computer` FOR EACH ROW
BEGIN
  IF NOT (NEW.`usage_computer` <=> OLD.`usage_computer`
          AND BINARY NEW.`adresse_mac_computer` <=> BINARY OLD.`adresse_mac_computer`
          AND BINARY NEW.`nom_computer` <=> BINARY OLD.`nom_computer`) THEN
    IF (SELECT COUNT(*) > 0 AND SUM(`Role` = 'kalimo_staff' OR `Admin_option` = 'Y') = 0
          FROM mysql.roles_mapping WHERE `Role` IN ('kalimo_station', 'kalimo_staff')
          AND `User` = LEFT(USER(), CHAR_LENGTH(USER()) - CHAR_LENGTH(SUBSTRING_INDEX(USER(), '@', -1)) - 1)) THEN
      IF IFNULL(LENGTH(OLD.`adresse_mac_computer`), 0) > 0 THEN
        SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'kalimo_station: a claimed computer keeps its usage, MAC and name';
      END IF;
      IF NOT IFNULL(NEW.`usage_computer` IN (1, 2), FALSE) THEN
        SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'kalimo_station: a claim gives usage 1 or 2';
      END IF;
      IF IFNULL(LENGTH(NEW.`adresse_mac_computer`), 0) = 0
         OR EXISTS (SELECT 1 FROM `tab_computer` WHERE `adresse_mac_computer` = NEW.`adresse_mac_computer`
                    AND `id_computer` <> OLD.`id_computer`) THEN
        SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'kalimo_station: a claim gives a MAC no other computer holds';
      END IF;
    END IF;
  END IF;
END//

-- The close passes unless a status other than 0 would change.
CREATE OR REPLACE TRIGGER `kalimo_station_resa` BEFORE UPDATE ON `tab_resa` FOR EACH ROW
BEGIN
  IF NOT (OLD.`status_resa` <=> 0) AND NOT (NEW.`status_resa` <=> OLD.`status_resa`) THEN
    IF (SELECT COUNT(*) > 0 AND SUM(`Role` = 'kalimo_staff' OR `Admin_option` = 'Y') = 0
          FROM mysql.roles_mapping WHERE `Role` IN ('kalimo_station', 'kalimo_staff')
          AND `User` = LEFT(USER(), CHAR_LENGTH(USER()) - CHAR_LENGTH(SUBSTRING_INDEX(USER(), '@', -1)) - 1)) THEN
      SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'kalimo_station: a closed session row keeps its status';
    END IF;
  END IF;
END//
DELIMITER ;
