-- Kalimo demo room, loaded after schema.sql by scripts/demo.
--
-- This file is UTF-8. Load it with the client option --default-character-set=utf8mb4 so that the
-- server converts the accented text into the latin1 (Windows-1252) columns.
--
-- Accounts (login / password):
--   mdurand     / soleil    visitor, 120 minutes a day
--   cmorvan     / café      visitor, 90 minutes a day (accented password: MD5 of its Windows-1252 bytes)
--   jleroux     / marees    visitor with a small allowance: 5 minutes a day
--   pbernard    / verrou    locked account
--   animateur   / kalimo    staff
--   responsable / kerlann   staff (manager)
--
-- Computers: Poste-01 is the demo station (scripts/demo writes the MAC of this machine into it),
-- Poste-02 and Accueil belong to other stations, Poste-03 to Poste-06 are free for set-up.

INSERT INTO `tab_espace` (`id_espace`, `nom_espace`) VALUES
  (1, 'Espace numérique de Kerlann'),
  (2, 'L''Atelier du Port');

INSERT INTO `tab_config_logiciel` (`id_config_logiciel`, `id_espace`, `config_menu_logiciel`, `page_inscription_logiciel`,
  `page_renseignement_logiciel`, `bloquage_touche_logiciel`, `affichage_temps_logiciel`, `deconnexion_auto_logiciel`) VALUES
  (1, 1, 1, 1, 1, 0, 1, 1),
  (2, 2, 0, 0, 0, 1, 0, 0);

INSERT INTO `tab_salle` (`id_salle`, `id_espace`, `nom_salle`) VALUES
  (1, 1, 'Salle multimédia'),
  (2, 1, 'Salle de formation'),
  (3, 2, 'Salle du quai');

INSERT INTO `tab_computer` (`id_computer`, `nom_computer`, `adresse_mac_computer`, `usage_computer`, `adresse_ip_computer`,
  `nom_hote_computer`, `id_salle`, `date_lastetat_computer`, `lastetat_computer`) VALUES
  (1, 'Poste-01', '02-00-00-00-00-01', 1, '192.168.10.11', 'kerlann-poste01', 1, '', 0),
  (2, 'Poste-02', '02-00-00-00-00-02', 1, '192.168.10.12', 'kerlann-poste02', 1, '2026-12-08', 61200),
  (3, 'Accueil', '02-00-00-00-00-10', 2, '192.168.10.10', 'kerlann-accueil', 1, '2026-12-08', 62110),
  (4, 'Poste-03', '', 0, '', '', 2, '', 0),
  (5, 'Poste-04', '', 0, '', '', 2, '', 0),
  (6, 'Poste-05', '', 0, '', '', 3, '', 0),
  (7, 'Poste-06', '', 0, '', '', 3, '', 0);

-- The newest active network-wide message (espace_message 0) wins over the message of the space.
INSERT INTO `tab_message_kalimo` (`id_message`, `corp_message`, `espace_message`, `status_message`) VALUES
  (1, 'Atelier « Démarches en ligne » jeudi à 14 h : inscriptions à l''accueil.', '1', 0),
  (2, 'Fermeture exceptionnelle le lundi 1er juin.', '1', 1),
  (3, 'Impression : 0,15 € la page, à régler à l''accueil.', '2', 0),
  (4, 'Bienvenue ! Pensez à vous déconnecter en fin de séance : vos documents ne sont pas conservés.', '0', 0);

INSERT INTO `tab_user` (`id_user`, `login_user`, `pass_user`, `status_user`, `temps_user`, `nom_user`, `prenom_user`,
  `sexe_user`, `jour_naissance_user`, `mois_naissance_user`, `annee_naissance_user`) VALUES
  (1, 'mdurand', '23206deb7eba65b3fbc80a2ffbc53c28', 1, 120, 'DURAND', 'Marie', 'F', 12, 4, 1978),
  (2, 'cmorvan', '961f50f6282239d09e48f812c1ca7276', 1, 90, 'MORVAN', 'Corentin', 'H', 3, 11, 2001),
  (3, 'jleroux', '71427225bef13f38ac5ab4ab533a5d29', 1, 5, 'LE ROUX', 'Jeanne', 'F', 27, 8, 1949),
  (4, 'pbernard', '066731308d59480e1927ddeb07f88459', 2, 120, 'BERNARD', 'Pierre', 'H', 19, 1, 1986),
  (5, 'animateur', '59634eab3c8972b22185bd64673b0971', 3, 999, 'KERBRAT', 'Yann', 'H', 8, 6, 1983),
  (6, 'responsable', 'fd1a2395538e240beb56debca13f841b', 4, 999, 'TANGUY', 'Nolwenn', 'F', 30, 9, 1975);

-- One row per survey caption, spelled exactly as on the survey screen.
INSERT INTO `tab_utilisation` (`nom_utilisation`) VALUES
  ('Bureautique'),
  ('Emploi'),
  ('Consultation/actualisation du dossier de demandeur d''emploi'),
  ('Recherche d''information'),
  ('CV, Lettre de motivation'),
  ('Recherches et consultations d''offres, candidature'),
  ('Démarches de création ou reprise d''entreprise'),
  ('Suivi de candidatures'),
  ('Démarches professionnelles (déclarations sociale...)'),
  ('Internet'),
  ('Vie quotidienne, loisirs, sport, vacances'),
  ('Enseignement, formation, métier'),
  ('E-administration'),
  ('E-commerce'),
  ('Services numériques scolaires'),
  ('Autres');

-- Listed in key order at registration: Autres comes last and lets the visitor type another town.
INSERT INTO `tab_city` (`id_city`, `nom_city`) VALUES
  (1, 'Rennes'),
  (2, 'Bruz'),
  (3, 'Chartres-de-Bretagne'),
  (4, 'Saint-Jacques-de-la-Lande'),
  (5, 'Cesson-Sévigné'),
  (6, 'Pacé'),
  (7, 'Le Rheu'),
  (8, 'Vern-sur-Seiche'),
  (9, 'Saint-Malo'),
  (10, 'Autres');

-- A few sessions of earlier days, all closed, with their survey answers.
INSERT INTO `tab_resa` VALUES
  (NULL, '1', '1', '2026-12-01', '605', '47', '2026-12-01', '1'),
  (NULL, '2', '2', '2026-12-01', '842', '90', '2026-12-01', '1'),
  (NULL, '3', '5', '2026-12-02', '540', '0', '2026-12-02', '2'),
  (NULL, '1', '3', '2026-12-04', '615', '5', '2026-12-04', '1');

INSERT INTO `rel_utilisation_user` VALUES
  (NULL, '2', '1', '2026-12-01'),
  (NULL, '6', '1', '2026-12-01'),
  (NULL, '10', '2', '2026-12-01'),
  (NULL, '13', '2', '2026-12-01'),
  (NULL, '11', '3', '2026-12-04');

-- A self-registration waiting for validation (default password: MD5 of 03091992).
INSERT INTO `tab_inscription_user` (`id_inscription_user`, `date_inscription_user`, `nom_inscription_user`,
  `prenom_inscription_user`, `sexe_inscription_user`, `jour_naissance_inscription_user`, `mois_naissance_inscription_user`,
  `annee_naissance_inscription_user`, `adresse_inscription_user`, `code_postal_inscription`, `ville_inscription_user`,
  `commune_inscription_autres`, `tel_inscription_user`, `tel_port_inscription_user`, `mail_inscription_user`,
  `temps_inscription_user`, `csp_inscription_user`, `equipement_inscription_user`, `utilisation_inscription_user`,
  `connaissance_inscription_user`, `info_inscription_user`, `login_inscription_user`, `pass_inscription_user`,
  `status_inscription_user`, `lastvisit_inscription_user`) VALUES
  (NULL, '2026-12-05', 'LE BIHAN', 'Gwenaëlle', 'F', '03', '09', '1992', '4 rue des Écluses\r\n', '35170', '2', '',
   '02 99 00 00 00', '06 00 00 00 00', 'gwenaelle.lebihan@example.org', '999', '4', '1', '0', 'Débutant',
   'Cherche un emploi de secrétaire médicale.\r\n', 'gle bihan', 'de20d02e54c21e19b58144ab39ff7e48', '1', '2026-12-05');
