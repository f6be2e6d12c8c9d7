// The run's own texts, in the ANSI code page (Windows-1252) like every text it shows or
// logs. Hex escapes are split where a letter a-f follows an accent.
#pragma once

namespace runtext {
// Step and file texts.
constexpr char kSearching[] = "Recherche du terminal...";
constexpr char kBroadcasting[] = "Diffusion en cours...";
constexpr char kActivatingStep[] = "Activation des modules charg\xE9s";
constexpr char kFinishing[] = "Fin du chargement";
constexpr char kRestartDoNotUnplug[] = "Red\xE9marrage... Ne pas d\xE9" "brancher votre terminal";
constexpr char kRestartingReader[] = "Red\xE9marrage du lecteur...";
constexpr char kNotDetected[] = "Terminal non d\xE9tect\xE9";
constexpr char kCriticalError[] = "Erreur critique lors du chargement";
constexpr char kModulePrefix[] = "Module en cours: ";

// Diagnostic lines.
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

// Boxes the worker shows itself.
constexpr char kActivationRefusedBox[] =
    "Probl\xE8me lors de l'activation des applications charg\xE9" "es.\n"
    "Votre terminal n'a pas \xE9t\xE9 mis \xE0 jour";
constexpr char kReopenFailedBox[] = "Impossible d'ouvrir le port.\nLe terminal n'a pas \xE9t\xE9 mis \xE0 jour";
} // namespace runtext
