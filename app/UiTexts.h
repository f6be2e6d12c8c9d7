// The main window's own texts, in the ANSI code page (Windows-1252) like every text it
// shows. Hex escapes are split where a letter a-f follows an accent.
#pragma once

namespace uitext {
// Detection text (control 1028).
constexpr char kReaderDetected[] = "Votre lecteur a \xE9t\xE9 d\xE9tect\xE9 sur le port :";
constexpr char kReaderNotDetected[] =
    "Votre lecteur n'est pas d\xE9tect\xE9.\nVeuillez s\xE9lectionner le port de communication :";

// Boxes of the port list; each closes the window.
constexpr char kNoLibrary[] = "Impossible de charger la dll Tessock";
constexpr char kNoExport[] = "Impossible de trouver la r\xE9" "f\xE9rence \xE0 getPortComAvailable";
constexpr char kQueryFailed[] = "Impossible de trouver un lecteur.\nL'application va se terminer.";
constexpr char kUnexpectedFailure[] =
    "Erreur inconnue pendant la recherche des ports.\nL'application va se terminer";

// The about box (F1), filled with the file version and the legal notice.
constexpr char kAboutFormat[] =
    "Logiciel de mise \xE0 jour de lecteurs \nde cartes Vitale Orvane v%s\n\n%s";
} // namespace uitext
