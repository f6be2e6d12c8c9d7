#include "RealFiles.h"

RealFiles::RealFiles()
{
    const OsCalls& real = RealOsCalls();
    OsCalls calls = Below();
#define OV_REAL(name) calls.name = real.name;
    OV_REAL(ReadFile) OV_REAL(WriteFile) OV_REAL(CloseHandle) OV_REAL(GetFileSize)
    OV_REAL(CreateDirectoryA) OV_REAL(FindFirstFileA) OV_REAL(FindNextFileA)
    OV_REAL(FindClose) OV_REAL(DeleteFileA) OV_REAL(FlushFileBuffers) OV_REAL(GetFileAttributesExA)
    OV_REAL(SetCurrentDirectoryA) OV_REAL(GetCurrentDirectoryW) OV_REAL(GetFullPathNameW)
    OV_REAL(CreateFileW) OV_REAL(CreateDirectoryW) OV_REAL(GetFileInformationByHandleEx)
    OV_REAL(GetSecurityInfo) OV_REAL(SetSecurityInfo) OV_REAL(GetFinalPathNameByHandleW)
    OV_REAL(SetFileInformationByHandle) OV_REAL(FindFirstFileW) OV_REAL(FindNextFileW)
    OV_REAL(GetVolumeInformationByHandleW) OV_REAL(SetProcessMitigationPolicy)
#undef OV_REAL
    calls.CreateFileA = Entry([](RealFiles& f, LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                                 DWORD disposition, DWORD flags, HANDLE templ) {
        f.files.push_back(path);
        return RealOsCalls().CreateFileA(path, access, share, sa, disposition, flags, templ);
    });
    calls.GetFileAttributesA = Entry([](RealFiles& f, LPCSTR path) {
        f.files.push_back(path);
        return RealOsCalls().GetFileAttributesA(path);
    });
    calls.MoveFileExA = Entry([](RealFiles& f, LPCSTR from, LPCSTR to, DWORD flags) {
        ++f.moves;
        if (f.heldMoves == 0)
            return RealOsCalls().MoveFileExA(from, to, flags);
        --f.heldMoves;
        return Refuse(f.heldError);
    });
    Os() = calls;
}
