#include "Sha256.h"

#include <windows.h>
#include <bcrypt.h>

#include <climits>

#include "Handle.h"
#include "SystemLibrary.h"

namespace {

constexpr ULONG kDigestSize = 32;

// The provider's calls, bound from System32's bcrypt.dll; the library is kept loaded while
// they are used.
struct Bcrypt {
    SystemLibrary library{"bcrypt.dll"};
    decltype(&::BCryptOpenAlgorithmProvider) open =
        library.Bind<decltype(&::BCryptOpenAlgorithmProvider)>("BCryptOpenAlgorithmProvider");
    decltype(&::BCryptCloseAlgorithmProvider) close =
        library.Bind<decltype(&::BCryptCloseAlgorithmProvider)>("BCryptCloseAlgorithmProvider");
    decltype(&::BCryptCreateHash) create = library.Bind<decltype(&::BCryptCreateHash)>("BCryptCreateHash");
    decltype(&::BCryptHashData) hashData = library.Bind<decltype(&::BCryptHashData)>("BCryptHashData");
    decltype(&::BCryptFinishHash) finish = library.Bind<decltype(&::BCryptFinishHash)>("BCryptFinishHash");
    decltype(&::BCryptDestroyHash) destroy = library.Bind<decltype(&::BCryptDestroyHash)>("BCryptDestroyHash");

    bool Complete() const
    {
        return open != nullptr && close != nullptr && create != nullptr && hashData != nullptr &&
               finish != nullptr && destroy != nullptr;
    }
};

// The provider's handles, given back through its bound calls.
struct ProviderAlgorithm : NullIsEmpty<BCRYPT_ALG_HANDLE> {
    const Bcrypt* api;
    void Close(BCRYPT_ALG_HANDLE algorithm) const { api->close(algorithm, 0); }
};
struct ProviderHash : NullIsEmpty<BCRYPT_HASH_HANDLE> {
    const Bcrypt* api;
    void Close(BCRYPT_HASH_HANDLE hash) const { api->destroy(hash); }
};
using Algorithm = Owned<BCRYPT_ALG_HANDLE, ProviderAlgorithm>;
using Hash = Owned<BCRYPT_HASH_HANDLE, ProviderHash>;

Algorithm OpenSha256(const Bcrypt& api)
{
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!BCRYPT_SUCCESS(api.open(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
        algorithm = nullptr;
    return Algorithm(algorithm, {{}, &api});
}

// A null object buffer lets the provider keep the hash's state itself (Windows 7 on).
Hash CreateHash(const Bcrypt& api, BCRYPT_ALG_HANDLE algorithm)
{
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (algorithm == nullptr ||
        !BCRYPT_SUCCESS(api.create(algorithm, &hash, nullptr, 0, nullptr, 0, 0)))
        hash = nullptr;
    return Hash(hash, {{}, &api});
}

// The data in pieces that a ULONG count holds.
bool HashAll(const Bcrypt& api, BCRYPT_HASH_HANDLE hash, const std::uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const ULONG piece = size > ULONG_MAX ? ULONG_MAX : static_cast<ULONG>(size);
        if (!BCRYPT_SUCCESS(api.hashData(hash, const_cast<PUCHAR>(data), piece, 0)))
            return false;
        data += piece;
        size -= piece;
    }
    return true;
}

} // namespace

bool Sha256Hex(const std::uint8_t* data, std::size_t size, std::string* hex)
{
    const Bcrypt api;
    if (!api.Complete())
        return false;
    const Algorithm algorithm = OpenSha256(api);
    const Hash hash = CreateHash(api, algorithm.Get());
    UCHAR digest[kDigestSize] = {};
    if (hash.Get() == nullptr || !HashAll(api, hash.Get(), data, size) ||
        !BCRYPT_SUCCESS(api.finish(hash.Get(), digest, kDigestSize, 0)))
        return false;
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (UCHAR byte : digest) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0xF];
    }
    *hex = text;
    return true;
}
