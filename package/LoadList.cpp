// The load list as the run consumes it: sending order, module names, the loader stage.
#include "PackageRules.h"
#include "res/resource.h"
#include "terminal/Terminal.h"
#include "winfw/Diag.h"

void CTerminal::SnapshotLoadList()
{
    m_loadListUpper.RemoveAll();
    for (const CString& file : m_loadList)
        m_loadListUpper.AddTail(UpperAnsi(file));
}

CString CTerminal::ModuleNameForFile(const CString& fileName) const
{
    return pkg::ModuleNameOfUpper(UpperAnsi(fileName), m_loadListUpper);
}

bool CTerminal::LoaderStageDone(int filesSent) const
{
    return m_loaderPresent && filesSent == m_loaderFileCount;
}

CString CTerminal::GetStageLabel(int /*filesSent*/) const { return LoadResString(IDS_LOADER_STAGE); }
