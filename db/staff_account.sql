-- Kalimo staff stations' database account: the role kalimo_staff, holding what the room view of a
-- staff station needs, table by table and column by column, in the database this file is loaded into,
-- and the stations' own role (a staff station runs the station's statements too).
--
-- Load it as an administrator into the room's database, after schema.sql and station_account.sql,
-- then give the role to the account that the staff stations' database file names, as its default:
--
--   mariadb ROOMDB < db/staff_account.sql
--   CREATE USER 'accueil'@'192.168.10.10' IDENTIFIED BY '...';
--   GRANT kalimo_staff TO 'accueil'@'192.168.10.10';
--   SET DEFAULT ROLE kalimo_staff FOR 'accueil'@'192.168.10.10';
--
-- A session has one role at a time in MariaDB: kalimo_staff is given kalimo_station, so the staff
-- station's account holds both through it. A visitor station keeps the stations' account, which
-- holds none of what follows. The role has no global privilege, nothing on another database, no DDL
-- and no DELETE: a registration refused, a session ended or a message withdrawn is a status, never a
-- row removed. A column named in a WHERE, an ON or an ORDER BY needs SELECT on it. An account of the
-- role is not held by the rules of station_account.sql's triggers (a staff station may close any
-- session, as staff always could).
--
-- Loading it again changes nothing; loading it into a second database of the same server gives the
-- same role the same rights there.

CREATE ROLE IF NOT EXISTS `kalimo_staff`;
GRANT `kalimo_station` TO `kalimo_staff`;

-- The stations of the space or the network: their records, rooms and spaces, with each one's open
-- session row and its account, and the day's other rows of that account (the time left).
GRANT SELECT (`id_computer`, `nom_computer`, `usage_computer`, `id_salle`, `date_lastetat_computer`,
              `lastetat_computer`)
  ON `tab_computer` TO `kalimo_staff`;

GRANT SELECT (`id_salle`, `id_espace`, `nom_salle`) ON `tab_salle` TO `kalimo_staff`;

GRANT SELECT (`id_espace`, `nom_espace`) ON `tab_espace` TO `kalimo_staff`;

-- "Terminer la session": the open row closed from outside, with status 1 and its duration.
GRANT SELECT (`id_resa`, `id_computer_resa`, `id_user_resa`, `date_resa`, `debut_resa`, `duree_resa`,
              `status_resa`),
      UPDATE (`duree_resa`, `status_resa`)
  ON `tab_resa` TO `kalimo_staff`;

-- The accounts: found by login or name, the checks of a validation, created (from a registration or
-- by hand), their allowance, status and password changed. The digest is written, never read here.
GRANT SELECT (`id_user`, `login_user`, `status_user`, `temps_user`, `nom_user`, `prenom_user`, `sexe_user`,
              `jour_naissance_user`, `mois_naissance_user`, `annee_naissance_user`),
      INSERT (`login_user`, `pass_user`, `status_user`, `temps_user`, `nom_user`, `prenom_user`, `sexe_user`,
              `jour_naissance_user`, `mois_naissance_user`, `annee_naissance_user`),
      UPDATE (`status_user`, `temps_user`, `pass_user`)
  ON `tab_user` TO `kalimo_staff`;

-- The waiting registrations with all the station collected (the digest to copy into the account), and
-- their status: validated or refused.
GRANT SELECT (`id_inscription_user`, `date_inscription_user`, `nom_inscription_user`, `prenom_inscription_user`,
              `sexe_inscription_user`, `jour_naissance_inscription_user`, `mois_naissance_inscription_user`,
              `annee_naissance_inscription_user`, `adresse_inscription_user`, `code_postal_inscription`,
              `ville_inscription_user`, `commune_inscription_autres`, `tel_inscription_user`,
              `tel_port_inscription_user`, `mail_inscription_user`, `temps_inscription_user`,
              `csp_inscription_user`, `equipement_inscription_user`, `utilisation_inscription_user`,
              `connaissance_inscription_user`, `info_inscription_user`, `login_inscription_user`,
              `pass_inscription_user`, `status_inscription_user`),
      UPDATE (`status_inscription_user`)
  ON `tab_inscription_user` TO `kalimo_staff`;

GRANT SELECT (`id_city`, `nom_city`) ON `tab_city` TO `kalimo_staff`;

-- The welcome messages: the newest active one of the network and of the space, a new one, and the
-- older ones withdrawn (status 1).
GRANT SELECT (`id_message`, `corp_message`, `espace_message`, `status_message`),
      INSERT (`corp_message`, `espace_message`, `status_message`),
      UPDATE (`status_message`)
  ON `tab_message_kalimo` TO `kalimo_staff`;
