// Diagnostic texts shared by the loader commands and the download.
#pragma once

namespace linktext {
constexpr char kCannotWrite[] = "Impossible d'ecrire sur le port";
constexpr char kCannotRead[] = "Impossible de lire sur le port";
constexpr char kNoData[] = "Aucune donnee lue sur la liaison";
constexpr char kAckKo[] = "Trame recue, acquittement KO";
} // namespace linktext
