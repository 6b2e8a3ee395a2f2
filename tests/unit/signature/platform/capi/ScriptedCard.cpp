#include "ScriptedCard.h"

#include <cstring>
#include <cwchar>

#include "signature/Base64.h"

ScriptedCard* ScriptedCard::current = nullptr;

bool ScriptedCard::addCertificate(const std::string& derBase64) {
    const auto der = Base64::decode(derBase64, 8192);
    if (!der) {
        return false;
    }
    second.assign(der->begin(), der->end());
    return true;
}

namespace {

bool isCardName(const wchar_t* provider) {
    return provider && ScriptedCard::current && ScriptedCard::current->providerName == provider;
}

BOOL WINAPI cardProperty(PCCERT_CONTEXT cert, DWORD id, void* data, DWORD* size) {
    // The card certificate's record, with the provider name of the script.
    static std::wstring container = L"korvane-card";
    if (!ScriptedCard::current || id != CERT_KEY_PROV_INFO_PROP_ID ||
        !CapiFunctions::system().certGetCertificateContextProperty(cert, id, nullptr, size)) {
        return CapiFunctions::system().certGetCertificateContextProperty(cert, id, data, size);
    }
    std::vector<BYTE> real(*size);
    CapiFunctions::system().certGetCertificateContextProperty(cert, id, real.data(), size);
    const auto& record = *reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(real.data());
    const std::string& second = ScriptedCard::current->second;
    const bool isSecond = second.size() == cert->cbCertEncoded &&
                          std::memcmp(second.data(), cert->pbCertEncoded, second.size()) == 0;
    if (!isSecond && (!record.pwszProvName || std::wcsstr(record.pwszProvName, L"Smart Card") == nullptr)) {
        return CapiFunctions::system().certGetCertificateContextProperty(cert, id, data, size);
    }
    static std::wstring secondContainer = L"korvane-card-2";
    const std::wstring& name = ScriptedCard::current->providerName;
    const DWORD needed =
        static_cast<DWORD>(sizeof(CRYPT_KEY_PROV_INFO) + (name.size() + 1) * sizeof(wchar_t));
    if (!data) {
        *size = needed;
        return TRUE;
    }
    auto* out = static_cast<CRYPT_KEY_PROV_INFO*>(data);
    *out = CRYPT_KEY_PROV_INFO{};
    auto* text = reinterpret_cast<wchar_t*>(out + 1);
    name.copy(text, name.size());
    text[name.size()] = L'\0';
    out->pwszContainerName = isSecond ? secondContainer.data() : container.data();
    out->pwszProvName = text;
    out->dwProvType = PROV_RSA_FULL;
    out->dwKeySpec = AT_KEYEXCHANGE;
    return TRUE;
}

BOOL WINAPI cardAcquire(HCRYPTPROV* context, LPCWSTR container, LPCWSTR provider, DWORD type, DWORD flags) {
    if (!isCardName(provider)) {
        return CapiFunctions::system().cryptAcquireContextW(context, container, provider, type, flags);
    }
    ScriptedCard::current->calls.push_back("acquire");
    ScriptedCard::current->acquireFlags = flags;
    ScriptedCard::current->acquireType = type;
    *context = ScriptedCard::kContext;
    return TRUE;
}

BOOL WINAPI cardCreateHash(HCRYPTPROV context, ALG_ID algorithm, HCRYPTKEY key, DWORD flags,
                           HCRYPTHASH* hash) {
    if (context != ScriptedCard::kContext) {
        return CapiFunctions::system().cryptCreateHash(context, algorithm, key, flags, hash);
    }
    ScriptedCard::current->calls.push_back("createHash");
    if (ScriptedCard::current->createHashError) {
        SetLastError(ScriptedCard::current->createHashError);
        return FALSE;
    }
    *hash = ScriptedCard::kHash;
    return TRUE;
}

BOOL WINAPI cardSetHashParam(HCRYPTHASH hash, DWORD param, const BYTE* data, DWORD flags) {
    if (hash != ScriptedCard::kHash) {
        return CapiFunctions::system().cryptSetHashParam(hash, param, data, flags);
    }
    ScriptedCard::current->calls.push_back("setHashValue");
    return TRUE;
}

BOOL WINAPI cardSetProvParam(HCRYPTPROV context, DWORD param, const BYTE* data, DWORD flags) {
    if (context != ScriptedCard::kContext) {
        return CapiFunctions::system().cryptSetProvParam(context, param, data, flags);
    }
    ScriptedCard& card = *ScriptedCard::current;
    if (param != 33) {
        card.calls.push_back("setProvParam " + std::to_string(param));
        return FALSE;
    }
    if (!data) {
        card.calls.push_back("removePin");
        card.pinInContext = false;
        return TRUE;
    }
    const std::string presented(reinterpret_cast<const char*>(data));
    card.calls.push_back("presentPin " + presented);
    if (card.blocked) {
        SetLastError(static_cast<DWORD>(SCARD_W_CHV_BLOCKED));
        return FALSE;
    }
    if (presented != card.pin) {
        // The try that uses up the counter is still answered as a wrong PIN; the card says it is
        // blocked from the next one on.
        card.blocked = --card.triesLeft == 0;
        SetLastError(static_cast<DWORD>(SCARD_W_WRONG_CHV));
        return FALSE;
    }
    card.triesLeft = 3;
    card.pinInContext = true;
    return TRUE;
}

BOOL WINAPI cardGetProvParam(HCRYPTPROV context, DWORD param, BYTE* data, DWORD* size, DWORD flags) {
    if (context != ScriptedCard::kContext) {
        return CapiFunctions::system().cryptGetProvParam(context, param, data, size, flags);
    }
    const ScriptedCard& card = *ScriptedCard::current;
    if (param == PP_SMARTCARD_READER && *size > card.reader.size()) {
        std::memcpy(data, card.reader.c_str(), card.reader.size() + 1);
        *size = static_cast<DWORD>(card.reader.size() + 1);
        return TRUE;
    }
    if (param == PP_SMARTCARD_GUID && *size >= sizeof(card.guid)) {
        std::memcpy(data, card.guid, sizeof(card.guid));
        *size = sizeof(card.guid);
        return TRUE;
    }
    SetLastError(static_cast<DWORD>(NTE_BAD_TYPE));
    return FALSE;
}

BOOL WINAPI cardSignHash(HCRYPTHASH hash, DWORD keySpec, LPCSTR description, DWORD flags, BYTE* out,
                         DWORD* size) {
    if (hash != ScriptedCard::kHash) {
        return CapiFunctions::system().cryptSignHashA(hash, keySpec, description, flags, out, size);
    }
    ScriptedCard& card = *ScriptedCard::current;
    card.calls.push_back(out ? "sign" : "signatureSize");
    if (!card.pinInContext) {
        SetLastError(static_cast<DWORD>(NTE_SILENT_CONTEXT));
        return FALSE;
    }
    *size = 256;
    if (out) {
        for (DWORD i = 0; i < 256; ++i) {
            out[i] = static_cast<BYTE>(i);  // least significant first, as the system gives it
        }
    }
    return TRUE;
}

BOOL WINAPI cardDestroyHash(HCRYPTHASH hash) {
    if (hash != ScriptedCard::kHash) {
        return CapiFunctions::system().cryptDestroyHash(hash);
    }
    ScriptedCard::current->calls.push_back("destroyHash");
    return TRUE;
}

BOOL WINAPI cardRelease(HCRYPTPROV context, DWORD flags) {
    if (context != ScriptedCard::kContext) {
        return CapiFunctions::system().cryptReleaseContext(context, flags);
    }
    ScriptedCard::current->calls.push_back("release");
    ScriptedCard::current->pinInContext = false;
    SetLastError(0);  // as Wine's does
    return TRUE;
}

}  // namespace

const CapiFunctions& ScriptedCard::functions() {
    static const CapiFunctions table = [] {
        CapiFunctions f = CapiFunctions::system();
        f.certGetCertificateContextProperty = &cardProperty;
        f.cryptAcquireContextW = &cardAcquire;
        f.cryptCreateHash = &cardCreateHash;
        f.cryptSetHashParam = &cardSetHashParam;
        f.cryptSetProvParam = &cardSetProvParam;
        f.cryptGetProvParam = &cardGetProvParam;
        f.cryptSignHashA = &cardSignHash;
        f.cryptDestroyHash = &cardDestroyHash;
        f.cryptReleaseContext = &cardRelease;
        return f;
    }();
    return table;
}
