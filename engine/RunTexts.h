// The run's diagnostic lines, in the ANSI code page (Windows-1252) like every line it logs.
// Hex escapes are split where a letter a-f follows an accent. What the run shows comes from
// the string table (res/strings.rc).
#pragma once

namespace runtext {
constexpr char kDescriptionFailed[] = "Probl\xE8me r\xE9" "cup\xE9ration fichier hTerminal";
constexpr char kReadingCatalogue[] = "Lecture catalogue";
constexpr char kUnknownTerminal[] = "Terminal inconnu";
constexpr char kHardwareMismatch[] = "Configuration mat\xE9rielle du terminal non conforme";
constexpr char kApplicationsFailed[] =
    "Probl\xE8me de r\xE9" "cup\xE9ration du nom des applications sur le terminal";
constexpr char kCheckingConstraints[] = "Verification des contraintes en cours...";
constexpr char kConstraintsRefused[] =
    "La configuration logicielle actuelle du terminal ne permet pas d'effectuer de chargement";
constexpr char kConstraintsOk[] = "Verification contraintes OK";
constexpr char kAnnounceFailed[] =
    "Impossible d'\xE9mettre les informations relatives au logiciel qui doit \xEAtre charg\xE9";
constexpr char kAuthorisationRefused[] = "Autorisation de chargement du logiciel non accord\xE9" "e";
constexpr char kDownloading[] = "Chargement...";
constexpr char kDownloadFailed[] = "Echec lors du chargement des logiciels";
constexpr char kEndOfModule[] = "Fin de chargement du module ";
constexpr char kActivating[] = "Activation...";
constexpr char kRestarting[] = "Redemarrage du lecteur...";
constexpr char kClosingPort[] = "Fermeture du port...";
constexpr char kThreadFailed[] = "Erreur lors de la creation du thread";
constexpr char kUnplugged[] = "Port disparu : lecteur debranche pendant la mise a jour";
constexpr char kNotBackAfterUpdate[] = "Lecteur non retrouve apres la mise a jour";
} // namespace runtext
