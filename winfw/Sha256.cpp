#include "Sha256.h"

#include <windows.h>
#include <bcrypt.h>

#include <climits>

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

class Algorithm {
public:
    explicit Algorithm(const Bcrypt& api) : m_api(api)
    {
        if (!BCRYPT_SUCCESS(m_api.open(&m_handle, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
            m_handle = nullptr;
    }
    ~Algorithm()
    {
        if (m_handle != nullptr)
            m_api.close(m_handle, 0);
    }
    Algorithm(const Algorithm&) = delete;
    Algorithm& operator=(const Algorithm&) = delete;
    BCRYPT_ALG_HANDLE Get() const { return m_handle; }

private:
    const Bcrypt& m_api;
    BCRYPT_ALG_HANDLE m_handle = nullptr;
};

class Hash {
public:
    // A null object buffer lets the provider keep the hash's state itself (Windows 7 on).
    Hash(const Bcrypt& api, BCRYPT_ALG_HANDLE algorithm) : m_api(api)
    {
        if (algorithm == nullptr ||
            !BCRYPT_SUCCESS(m_api.create(algorithm, &m_handle, nullptr, 0, nullptr, 0, 0)))
            m_handle = nullptr;
    }
    ~Hash()
    {
        if (m_handle != nullptr)
            m_api.destroy(m_handle);
    }
    Hash(const Hash&) = delete;
    Hash& operator=(const Hash&) = delete;
    BCRYPT_HASH_HANDLE Get() const { return m_handle; }

private:
    const Bcrypt& m_api;
    BCRYPT_HASH_HANDLE m_handle = nullptr;
};

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
    const Algorithm algorithm(api);
    const Hash hash(api, algorithm.Get());
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
