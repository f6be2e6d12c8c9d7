// The package side of CTerminal: the catalogue's option tests and file list, and the
// constraints on the reader's applications.
#include <cstddef>
#include <cstdint>

#include "IniFile.h"
#include "PackageFolder.h"
#include "PackageRules.h"
#include "terminal/Terminal.h"
#include "winfw/Diag.h"
#include "winfw/OsSeam.h"

namespace {

struct OptionSection {
    const char* name;
    bool sixteenBits;
    std::size_t highOffset; // 16 bits: the byte holding bits 15 to 8
    std::size_t lowOffset;  // the byte holding bits 7 to 0 (the only byte for 8 bits)
    const char* presenceFailure;
    const char* absenceFailure;
};

const OptionSection kOptionSections[] = {
    {"GENERAL OPTIONS", true, 27, 28, "Options generales non conformes (Presence)",
     "Options generales non conformes (Absence)"},
    {"READERS OPTIONS", true, 29, 30, "Options du lecteur non conformes (Presence)",
     "Options du lecteur non conformes (Absence)"},
    {"MODEM OPTIONS", false, 31, 31, "Options du modem non conformes (Presence)",
     "Options du modem non conformes (Absence)"},
    {"DISPLAY OPTIONS", false, 34, 34, "Options de l'ecran non conformes (Presence)",
     "Options de l'ecran non conformes (Absence)"},
    {"EXTENSION OPTIONS", false, 39, 39, "Options d'extension non conformes (Presence)",
     "Options d'extension non conformes (Absence)"},
};

static_assert(offsetof(TerminalDescription, generalOptions) == 27, "record layout");
static_assert(offsetof(TerminalDescription, readerOptions) == 29, "record layout");
static_assert(offsetof(TerminalDescription, modemOptions) == 31, "record layout");
static_assert(offsetof(TerminalDescription, displayOptions) == 34, "record layout");
static_assert(offsetof(TerminalDescription, extensionOptions) == 39, "record layout");

const char kFileSection[] = "FICHIER A CHARGER";

CString PackagePath(const char* prefix, const char* modelCode)
{
    return CString(prefix) + (modelCode != nullptr ? modelCode : "") + ".ini";
}

// The file search finds directories too; a catalogue must be a file to be read.
bool IsPackageFile(const CString& path)
{
    if (!FileExists(path.c_str()))
        return false;
    WIN32_FILE_ATTRIBUTE_DATA attributes = {};
    return Os().GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &attributes) &&
           (attributes.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void Refuse(PackageRefusal* refusal, const CString& section, const CString& reason)
{
    if (refusal != nullptr)
        *refusal = PackageRefusal{section, reason};
}

// The first failing test of one section, logged and told; true when the section passes.
bool SectionPasses(CIniFile& ini, const OptionSection& section, const std::uint8_t* record,
                   PackageRefusal* refusal)
{
    const std::int32_t presence = pkg::ParseProfileInt(ini.ReadString(section.name, "Presence"));
    const std::int32_t absence = pkg::ParseProfileInt(ini.ReadString(section.name, "Absence"));
    const pkg::OptionVerdict verdict =
        section.sixteenBits
            ? pkg::TestOptions16(presence, absence, record[section.highOffset],
                                 record[section.lowOffset])
            : pkg::TestOptions8(presence, absence, record[section.lowOffset]);
    if (verdict == pkg::OptionVerdict::Pass)
        return true;
    const char* failure = verdict == pkg::OptionVerdict::PresenceFailed ? section.presenceFailure
                                                                         : section.absenceFailure;
    LogLine("%s", failure);
    Refuse(refusal, section.name, failure);
    return false;
}

void ReadEntries(CIniFile& ini, const char* section, CStringList& into)
{
    into.RemoveAll();
    for (const CString& line : ini.ReadSection(section))
        into.AddTail(line);
}

} // namespace

CString CatalogueOf(const char* modelCode) { return PackagePath(".\\catalogue", modelCode); }

CString CatalogueTakenText(const CString& path) { return "Catalogue " + path + " enregistre"; }

bool CTerminal::CheckCatalogue(const char* modelCode, TerminalDescription description,
                               PackageRefusal* refusal)
{
    const CString path = CatalogueOf(modelCode);
    if (!IsPackageFile(path)) {
        LogLine("Impossible de trouver le fichier %s", path.c_str());
        Refuse(refusal, CString(), "Impossible de trouver le fichier " + path);
        return false;
    }
    CIniFile ini;
    ini.SetFileName(path);
    const auto* record = reinterpret_cast<const std::uint8_t*>(&description);
    for (const OptionSection& section : kOptionSections)
        if (!SectionPasses(ini, section, record, refusal))
            return false;

    const CStringList& lines = ini.ReadSection(kFileSection);
    if (!ini.LastSectionComplete()) {
        LogLine("Liste des fichiers trop longue dans %s", path.c_str());
        Refuse(refusal, kFileSection, "Liste des fichiers trop longue dans " + path);
        return false;
    }
    pkg::LoadList list = pkg::BuildLoadList(lines);
    m_loadList = list.files;
    m_loaderFileCount = list.loaderFileCount;
    m_loaderPresent = list.loaderPresent;
    LogLine("%s", CatalogueTakenText(path).c_str());
    return true;
}

void CTerminal::LoadConstraints(const char* modelCode)
{
    const CString path = PackagePath(".\\Contraintes", modelCode);
    CIniFile ini;
    ini.SetFileName(path);
    ReadEntries(ini, "PRESENCE", m_presenceList);
    ReadEntries(ini, "EXCLUSION", m_exclusionList);
    LogLine("Fichier de contrainte %s enregistre", path.c_str());
}

bool CTerminal::CheckConstraints(const CStringList& applicationNames, PackageRefusal* refusal)
{
    if (applicationNames.IsEmpty()) {
        Refuse(refusal, CString(), "the reader reports no application");
        return false;
    }
    while (!m_presenceList.IsEmpty()) {
        const CString entry = m_presenceList.RemoveHead();
        if (!pkg::KeyFoundInAny(pkg::ConstraintKey(entry), applicationNames)) {
            Refuse(refusal, "PRESENCE", "entry " + entry + " not found");
            return false;
        }
    }
    while (!m_exclusionList.IsEmpty()) {
        const CString entry = m_exclusionList.RemoveHead();
        if (pkg::KeyFoundInAny(pkg::ConstraintKey(entry), applicationNames)) {
            Refuse(refusal, "EXCLUSION", "entry " + entry + " found");
            return false;
        }
    }
    return true;
}
