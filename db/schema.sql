-- Kalimo station database: the eleven tables a station reads and writes.
--
-- Load into an existing, empty database chosen by the loader (this file neither creates nor selects one).
-- Plain statements only, so that it can be sent through the client library with multi-statements enabled.
--
-- Server requirements, for the real server of a room as much as for the private test server:
--   * any sql_mode: every INSERT of the station passes '' for the auto-increment key, which a strict
--     mode refuses, so a station connection sets its own session's sql_mode to '' before its first
--     statement that is not a plain read (this also keeps ANSI_QUOTES off for the survey lookup, which
--     quotes its text with double quotes).
--   * latin1 tables. The latin1 of MariaDB is Windows-1252, the code page of the stations, and the
--     stations connect with the latin1 character set.
--
-- Columns accept NULL (except the keys and the MAC address) because the administration tools of a room
-- may leave them so, and the station must cope with NULL where it reads them.
-- Dates are 'YYYY-MM-DD' texts written by the stations and compared as text.
-- Login, password digest, survey answer, station name and MAC text are compared byte for byte, trailing
-- blanks included, so they use a binary no-pad collation (the default latin1 collation equates e with
-- e acute and a with A, and every pad collation ignores trailing blanks).
-- tab_resa and rel_utilisation_user are filled by positional INSERTs: never reorder their columns.

CREATE TABLE `tab_espace` (
  `id_espace` INT NOT NULL AUTO_INCREMENT,
  `nom_espace` VARCHAR(999) DEFAULT '',
  PRIMARY KEY (`id_espace`),
  KEY `idx_nom_espace` (`nom_espace`)
) ENGINE=InnoDB DEFAULT CHARSET=latin1;

CREATE TABLE `tab_salle` (
  `id_salle` INT NOT NULL AUTO_INCREMENT,
  `id_espace` INT DEFAULT 0,
  `nom_salle` VARCHAR(255) DEFAULT '',
  PRIMARY KEY (`id_salle`),
  KEY `idx_salle_espace` (`id_espace`)
) ENGINE=InnoDB DEFAULT CHARSET=latin1;

-- usage_computer: 0 not assigned, 1 visitor station, 2 staff station.
-- adresse_mac_computer: 'XX-XX-XX-XX-XX-XX' of the station that claimed the row, '' while free.
-- lastetat_computer: seconds since local midnight of the last heartbeat.
CREATE TABLE `tab_computer` (
  `id_computer` INT NOT NULL AUTO_INCREMENT,
  `nom_computer` VARCHAR(255) COLLATE latin1_nopad_bin DEFAULT '',
  `adresse_mac_computer` VARCHAR(17) COLLATE latin1_nopad_bin NOT NULL DEFAULT '',
  `usage_computer` INT DEFAULT 0,
  `adresse_ip_computer` VARCHAR(45) DEFAULT '',
  `nom_hote_computer` VARCHAR(255) DEFAULT '',
  `id_salle` INT DEFAULT 0,
  `date_lastetat_computer` VARCHAR(10) DEFAULT '',
  `lastetat_computer` INT UNSIGNED DEFAULT 0,
  PRIMARY KEY (`id_computer`),
  KEY `idx_nom_computer` (`nom_computer`),
  KEY `idx_adresse_mac_computer` (`adresse_mac_computer`)
) ENGINE=InnoDB DEFAULT CHARSET=latin1;

-- One row per space is expected. Each setting is 1 (on) or 0 (off), except affichage_temps_logiciel:
-- 0 shows the elapsed time, any other value the remaining credit.
CREATE TABLE `tab_config_logiciel` (
  `id_config_logiciel` INT NOT NULL AUTO_INCREMENT,
  `id_espace` INT DEFAULT 0,
  `config_menu_logiciel` INT DEFAULT 0,
  `page_inscription_logiciel` INT DEFAULT 0,
  `page_renseignement_logiciel` INT DEFAULT 0,
  `bloquage_touche_logiciel` INT DEFAULT 0,
  `affichage_temps_logiciel` INT DEFAULT 0,
  `deconnexion_auto_logiciel` INT DEFAULT 0,
  PRIMARY KEY (`id_config_logiciel`),
  KEY `idx_config_espace` (`id_espace`)
) ENGINE=InnoDB DEFAULT CHARSET=latin1;

-- espace_message: the id_espace of one space, or '0' for every space. status_message: 0 active, 1
-- withdrawn (by the room view; any value but 0 is never shown). The newest message is the one with the
-- highest id_message.
CREATE TABLE `tab_message_kalimo` (
  `id_message` INT NOT NULL AUTO_INCREMENT,
  `corp_message` TEXT,
  `espace_message` VARCHAR(11) DEFAULT '0',
  `status_message` INT DEFAULT 0,
  PRIMARY KEY (`id_message`),
  KEY `idx_message_espace` (`espace_message`, `status_message`)
) ENGINE=InnoDB DEFAULT CHARSET=latin1;

-- status_user: 1 visitor, 2 locked, 3 and 4 staff. temps_user: daily allowance in minutes.
-- pass_user: MD5 of the Windows-1252 bytes of the password, 32 lower-case hex digits.
CREATE TABLE `tab_user` (
  `id_user` INT NOT NULL AUTO_INCREMENT,
  `login_user` VARCHAR(255) COLLATE latin1_nopad_bin DEFAULT '',
  `pass_user` VARCHAR(32) COLLATE latin1_nopad_bin DEFAULT '',
  `status_user` INT DEFAULT 1,
  `temps_user` INT DEFAULT 0,
  `nom_user` VARCHAR(255) DEFAULT '',
  `prenom_user` VARCHAR(255) DEFAULT '',
  `sexe_user` CHAR(1) DEFAULT '',
  `jour_naissance_user` INT DEFAULT 0,
  `mois_naissance_user` INT DEFAULT 0,
  `annee_naissance_user` INT DEFAULT 0,
  PRIMARY KEY (`id_user`),
  KEY `idx_login_user` (`login_user`),
  KEY `idx_user_person` (`nom_user`, `prenom_user`)
) ENGINE=InnoDB DEFAULT CHARSET=latin1;

-- One row per session opened on a station, in this column order:
-- key, station id, account id, opening date, opening time in minutes since midnight,
-- duration in minutes (planned at opening, real at closing), opening date again, status.
-- status_resa: 0 open, 1 visitor session closed, 2 staff session closed or set-up opened.
-- idx_resa_computer_status finds each computer's open row for the staff stations' room view.
CREATE TABLE `tab_resa` (
  `id_resa` INT NOT NULL AUTO_INCREMENT,
  `id_computer_resa` INT DEFAULT 0,
  `id_user_resa` INT DEFAULT 0,
  `date_resa` VARCHAR(10) DEFAULT '',
  `debut_resa` INT DEFAULT 0,
  `duree_resa` INT DEFAULT 0,
  `date_creation_resa` VARCHAR(10) DEFAULT '',
  `status_resa` INT DEFAULT 0,
  PRIMARY KEY (`id_resa`),
  KEY `idx_resa_user_status` (`id_user_resa`, `status_resa`),
  KEY `idx_resa_user_date` (`id_user_resa`, `date_resa`),
  KEY `idx_resa_computer_status` (`id_computer_resa`, `status_resa`)
) ENGINE=InnoDB DEFAULT CHARSET=latin1;

-- The survey answers: nom_utilisation equals a survey caption byte for byte.
CREATE TABLE `tab_utilisation` (
  `id_utilisation` INT NOT NULL AUTO_INCREMENT,
  `nom_utilisation` VARCHAR(499) COLLATE latin1_nopad_bin DEFAULT '',
  PRIMARY KEY (`id_utilisation`),
  KEY `idx_nom_utilisation` (`nom_utilisation`)
) ENGINE=InnoDB DEFAULT CHARSET=latin1;

-- One row per survey box checked, in this column order: key, answer id, account id, date.
CREATE TABLE `rel_utilisation_user` (
  `id_rel_utilisation_user` INT NOT NULL AUTO_INCREMENT,
  `id_utilisation` INT DEFAULT 0,
  `id_user` INT DEFAULT 0,
  `date_utilisation` VARCHAR(10) DEFAULT '',
  PRIMARY KEY (`id_rel_utilisation_user`),
  KEY `idx_rel_user` (`id_user`),
  KEY `idx_rel_utilisation` (`id_utilisation`)
) ENGINE=InnoDB DEFAULT CHARSET=latin1;

-- Towns offered at registration, listed in the order the server returns them (the key order).
-- No index on nom_city: a covering index would make that order alphabetical.
CREATE TABLE `tab_city` (
  `id_city` INT NOT NULL AUTO_INCREMENT,
  `nom_city` VARCHAR(255) DEFAULT '',
  PRIMARY KEY (`id_city`)
) ENGINE=InnoDB DEFAULT CHARSET=latin1;

-- Self-registrations waiting for the staff. status_inscription_user 1: waiting for validation (as the
-- stations write it), 2: validated, its account created, 3: refused (both set by the room view; rows
-- stay).
-- csp 0 to 11, equipement 0 to 2, utilisation 0 to 3: positions of the choice in the registration form.
CREATE TABLE `tab_inscription_user` (
  `id_inscription_user` INT NOT NULL AUTO_INCREMENT,
  `date_inscription_user` VARCHAR(10) DEFAULT '',
  `nom_inscription_user` VARCHAR(255) DEFAULT '',
  `prenom_inscription_user` VARCHAR(255) DEFAULT '',
  `sexe_inscription_user` CHAR(1) DEFAULT '',
  `jour_naissance_inscription_user` INT DEFAULT 0,
  `mois_naissance_inscription_user` INT DEFAULT 0,
  `annee_naissance_inscription_user` INT DEFAULT 0,
  `adresse_inscription_user` TEXT,
  `code_postal_inscription` VARCHAR(255) DEFAULT '',
  `ville_inscription_user` INT DEFAULT 0,
  `commune_inscription_autres` VARCHAR(255) DEFAULT '',
  `tel_inscription_user` VARCHAR(255) DEFAULT '',
  `tel_port_inscription_user` VARCHAR(255) DEFAULT '',
  `mail_inscription_user` VARCHAR(255) DEFAULT '',
  `temps_inscription_user` INT DEFAULT 0,
  `csp_inscription_user` INT DEFAULT 0,
  `equipement_inscription_user` INT DEFAULT 0,
  `utilisation_inscription_user` INT DEFAULT 0,
  `connaissance_inscription_user` VARCHAR(255) DEFAULT '',
  `info_inscription_user` TEXT,
  `login_inscription_user` VARCHAR(255) DEFAULT '',
  `pass_inscription_user` VARCHAR(32) DEFAULT '',
  `status_inscription_user` INT DEFAULT 1,
  `lastvisit_inscription_user` VARCHAR(10) DEFAULT '',
  PRIMARY KEY (`id_inscription_user`),
  KEY `idx_inscription_person` (`nom_inscription_user`, `prenom_inscription_user`)
) ENGINE=InnoDB DEFAULT CHARSET=latin1;
