#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "EngineContract.h"
#include "ScriptedCard.h"
#include "signature/RefusedPins.h"
#include "signature/platform/capi/CardMemory.h"
#include "signature/platform/capi/DigitalSignatureUtilCAPI.h"

namespace {

using contract::Bytes;

// The expected texts are in code page 1252, which Wine takes from the language of LANG (C, en_US, es_ES).
class CodePage1252 : public ::testing::Environment {
  public:
    void SetUp() override { ASSERT_EQ(GetACP(), 1252u) << "run with LANG pinned to C or en_US.UTF-8"; }
};
[[maybe_unused]] ::testing::Environment* const codePage =
    ::testing::AddGlobalTestEnvironment(new CodePage1252);

// The clock of the validity check, fixed for engines made by makeAt.
std::int64_t fixedNow = 0;
void WINAPI fixedSystemTime(LPSYSTEMTIME time) {
    const ULONGLONG ticks = (static_cast<ULONGLONG>(fixedNow) + 11644473600ULL) * 10000000ULL;
    FILETIME file{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    FileTimeToSystemTime(&file, time);
}

std::string asString(const Bytes& b) {
    return std::string(b.begin(), b.end());
}

}  // namespace

// The CryptoAPI engine's side of the contract, on the stores capi_store_pki filled. Signatures are
// written next to the fixture for the Linux-side check with openssl (verify-capi-signatures).
struct CapiDelegate {
    static constexpr bool kTextForEveryError = false;  // no system text for CRYPT_E_ and NTE_ codes
    static std::unique_ptr<DigitalSignatureUtil> make() {
        return std::make_unique<DigitalSignatureUtilCAPI>();
    }
    static std::unique_ptr<DigitalSignatureUtil> makeAt(std::int64_t unixSeconds) {
        static const CapiFunctions clocked = [] {
            CapiFunctions functions = CapiFunctions::system();
            functions.getSystemTime = &fixedSystemTime;
            return functions;
        }();
        fixedNow = unixSeconds;
        return std::make_unique<DigitalSignatureUtilCAPI>(clocked);
    }
    static std::string name(const std::string& key) { return PkiFixture::get().engineName(key); }
    static std::string id(const std::string& certificate) { return PkiFixture::get().engineId(certificate); }
    static void checkSignature(const std::string& certificate, const std::string& algorithm,
                               const Bytes& hash, const Bytes& signature) {
        // Wine gives one test program after another the same process id, so the name takes a random
        // part of its own.
        static const std::string run = std::to_string(std::random_device()());
        static std::atomic<int> counter{0};
        const std::string base =
            PkiFixture::get().dir() + "/capi-signatures/" + run + "-" + std::to_string(counter++);
        writeFile(base + ".hash", asString(hash));
        writeFile(base + ".sig", asString(signature));
        // Written last: the checker takes only signatures whose description is complete.
        writeFile(base + ".txt", certificate + " " + algorithm + "\n");
    }
};

namespace contract {
INSTANTIATE_TYPED_TEST_SUITE_P(Capi, EngineContract, CapiDelegate);
}  // namespace contract

namespace {

const PkiFixture& pki() {
    return PkiFixture::get();
}

std::string sign(DigitalSignatureUtil& engine, const std::string& id, const Bytes& hash) {
    return engine.signPkcs1(id, Base64::encode(hash));
}

}  // namespace

TEST(CapiIdentifiers, SameAsTheLinuxEngineWhereTheIssuerIsAscii) {
    // The Linux identifiers are the ones make-pki worked out and the NSS engine is held to.
    DigitalSignatureUtilCAPI engine;
    std::string filter;
    for (const char* key :
         {"ROOT_NAME", "UNRELATED_NAME", "ACCENTED_NAME", "DASHED_NAME", "PIPE_ROOT_NAME"}) {
        filter += pki().value(key) + "|";
    }
    std::set<std::string> windows;
    for (const contract::Listed& entry :
         contract::parseListing(engine.getDigitalSignatureCertificates(filter))) {
        windows.insert(entry.id);
    }
    const std::set<std::string> same = {pki().id("good"), pki().id("good3072"), pki().id("card"),
                                        pki().id("stranger"), pki().id("dashuser")};
    std::set<std::string> differing;
    std::set_difference(windows.begin(), windows.end(), same.begin(), same.end(),
                        std::inserter(differing, differing.end()));
    EXPECT_EQ(windows.size(), same.size() + differing.size()) << "an ASCII issuer got another identifier";

    // The accented issuer: UTF-8 on Linux, code page 1252 here, so the texts differ in that letter alone.
    const std::string accented = pki().id("accentuser");
    EXPECT_EQ(differing.count(PkiFixture::engineIdentifier(accented)), 1u);
    EXPECT_EQ(PkiFixture::engineIdentifier(accented).size() + 1, accented.size());
    // "C=ES, O=Pipe Works, CN=Korvane Pipe CA": equal on Windows, quoted by Wine's rendering bug.
    const std::string piped = pki().id("pipeuser");
    EXPECT_EQ(differing.count(PkiFixture::engineIdentifier(piped)), 1u);
    EXPECT_EQ(PkiFixture::engineIdentifier(piped) == piped, !testsys::underWine());
    EXPECT_EQ(differing.size(), 2u);
}

TEST(CapiKeys, CertificatesWithoutAKeyOrWithoutNonRepudiation) {
    DigitalSignatureUtilCAPI engine;
    // A certificate in "My" without a key provider record is found, but cannot sign.
    EXPECT_EQ(engine.getCertificate(pki().id("nokey")), pki().derBase64("nokey"));
    EXPECT_EQ(sign(engine, pki().id("nokey"), Bytes(32, 7)), "");
    EXPECT_EQ(engine.getLastError(), 12);
    EXPECT_EQ(static_cast<std::uint32_t>(engine.getLastLowLevelError()), 0x80092004u);  // CRYPT_E_NOT_FOUND
    // Key usage is a listing filter only: a key without nonRepudiation still signs.
    for (const char* name : {"auth", "noku"}) {
        EXPECT_NE(sign(engine, pki().id(name), contract::hashOf(name, 20)), "") << name;
        EXPECT_EQ(engine.getLastError(), 0) << name;
    }
}

TEST(CapiKeys, ACardRecordWithoutItsProviderFailsWithTheProvidersError) {
    // Wine has no smart-card provider: opening the card's container reports the provider missing.
    DigitalSignatureUtilCAPI engine;
    EXPECT_EQ(sign(engine, pki().id("card"), Bytes(32, 7)), "");
    EXPECT_EQ(engine.getLastError(), 12);
    EXPECT_EQ(static_cast<std::uint32_t>(engine.getLastLowLevelError()), 0x80090019u);  // NTE_KEYSET_NOT_DEF
    EXPECT_TRUE(PinCache::forOrigin("").empty());
}

namespace {

class CapiCardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        PinCache::clearEveryOrigin();
        CardMemory::forgetAll();
        RefusedPins::process().clear();
        ScriptedCard::current = &card;
    }
    void TearDown() override {
        ScriptedCard::current = nullptr;
        PinCache::clearEveryOrigin();
        CardMemory::forgetAll();
        RefusedPins::process().clear();
    }
    std::string sign() { return signWith(id); }
    std::string signWith(const std::string& certificate, std::size_t octets = 32) {
        return engine.signPkcs1(certificate, Base64::encode(contract::hashOf("card", octets)));
    }
    void addSecondCertificate() { ASSERT_TRUE(card.addCertificate(pki().derBase64("auth"))); }
    bool presentedAny(const std::vector<std::string>& calls) {
        return std::any_of(calls.begin(), calls.end(),
                           [](const std::string& call) { return call.rfind("presentPin", 0) == 0; });
    }
    std::vector<std::string> takeCalls() { return std::exchange(card.calls, {}); }

    ScriptedCard card;
    DigitalSignatureUtilCAPI engine{ScriptedCard::functions()};
    const std::string id = pki().id("card");
    const std::string secondId = pki().id("auth");
};

using Calls = std::vector<std::string>;

}  // namespace

TEST_F(CapiCardTest, PinDialogue) {
    PinCache& cache = PinCache::forOrigin("");
    // 1. Silent context, no PIN: the card needs one; the entry waits with an empty PIN.
    EXPECT_EQ(sign(), "");
    EXPECT_EQ(engine.getLastError(), 11);
    EXPECT_EQ(static_cast<std::uint32_t>(engine.getLastLowLevelError()), 0x80090022u);
    EXPECT_EQ(card.acquireFlags, static_cast<DWORD>(CRYPT_SILENT));
    EXPECT_EQ(card.acquireType, static_cast<DWORD>(PROV_RSA_FULL));
    ASSERT_NE(cache.find(id), nullptr);
    EXPECT_EQ(cache.find(id)->pin, "");
    EXPECT_EQ(takeCalls(),
              (Calls{"acquire", "createHash", "setHashValue", "signatureSize", "destroyHash", "release"}));

    // 2. The PIN is presented as the signature PIN, and leaves the context before it is released.
    engine.setPin(id, "1234");
    const auto octets = Base64::decode(sign(), 4096);
    ASSERT_TRUE(octets) << engine.getLastError();
    ASSERT_EQ(octets->size(), 256u);
    EXPECT_EQ((*octets)[0], 255);  // reversed into big-endian order
    EXPECT_EQ((*octets)[255], 0);
    EXPECT_EQ(takeCalls(), (Calls{"acquire", "createHash", "setHashValue", "presentPin 1234", "signatureSize",
                                  "sign", "removePin", "destroyHash", "release"}));
    EXPECT_EQ(cache.find(id)->pin, "1234");

    // 3. A wrong PIN: the card's refusal marks the entry and counts it.
    engine.setPin(id, "0000");
    EXPECT_EQ(sign(), "");
    EXPECT_EQ(engine.getLastError(), 5);
    EXPECT_EQ(static_cast<std::uint32_t>(engine.getLastLowLevelError()), 0x8010006Bu);
    EXPECT_EQ(engine.getPinRetryCount(id), 1);
    EXPECT_EQ(engine.getModulesWithInvalidPin(), std::vector<std::string>{id});
    EXPECT_EQ(takeCalls(),
              (Calls{"acquire", "createHash", "setHashValue", "presentPin 0000", "destroyHash", "release"}));

    // 4. The same wrong PIN is not presented again and not counted again.
    engine.setPin(id, "0000");
    EXPECT_EQ(sign(), "");
    EXPECT_EQ(engine.getLastError(), 5);
    EXPECT_EQ(engine.getPinRetryCount(id), 1);
    EXPECT_EQ(takeCalls(), (Calls{"acquire", "createHash", "setHashValue", "destroyHash", "release"}));

    // 5. Another wrong PIN is presented and counted; the right one then signs and keeps the count.
    engine.setPin(id, "9999");
    EXPECT_EQ(sign(), "");
    EXPECT_EQ(engine.getPinRetryCount(id), 2);
    engine.setPin(id, "1234");
    EXPECT_NE(sign(), "");
    EXPECT_FALSE(engine.isPinInvalid());
    EXPECT_EQ(engine.getPinRetryCount(id), 2);
}

TEST_F(CapiCardTest, ProvidersOfOtherMakersAreCardsAndMicrosoftSoftwareKeysNeverSeeAPin) {
    card.providerName = L"Acme Token CSP";
    EXPECT_EQ(sign(), "");
    EXPECT_EQ(engine.getLastError(), 11);
    EXPECT_EQ(card.acquireFlags, static_cast<DWORD>(CRYPT_SILENT));
    // A software key signs without the silent flag and without any PIN, even with one cached for it.
    engine.setPin(pki().id("good"), "1234");
    EXPECT_NE(engine.signPkcs1(pki().id("good"), Base64::encode(Bytes(20, 1))), "");
    EXPECT_TRUE(std::find(card.calls.begin(), card.calls.end(), "presentPin 1234") == card.calls.end());
    EXPECT_TRUE(
        DigitalSignatureUtilCAPI::softwareProvider(L"Microsoft Enhanced Cryptographic Provider v1.0"));
    EXPECT_FALSE(DigitalSignatureUtilCAPI::softwareProvider(L"Microsoft Base Smart Card Crypto Provider"));
}

TEST_F(CapiCardTest, TheFailingCallsErrorSurvivesTheCleanUp) {
    // Releasing the context resets the last error; the engine reports the error of the failed call.
    card.createHashError = static_cast<DWORD>(NTE_BAD_ALGID);
    EXPECT_EQ(sign(), "");
    EXPECT_EQ(engine.getLastError(), 12);
    EXPECT_EQ(static_cast<std::uint32_t>(engine.getLastLowLevelError()), 0x80090008u);
    // A card key is not reopened with another provider.
    EXPECT_EQ(takeCalls(), (Calls{"acquire", "createHash", "release"}));
    EXPECT_TRUE(PinCache::forOrigin("").empty());
}

TEST_F(CapiCardTest, APinTheCardRefusedIsPresentedOnceWhicheverCertificateAsks) {
    addSecondCertificate();
    // Typed for the first certificate, refused by the card: two tries spent.
    for (const char* wrong : {"0000", "1111"}) {
        engine.setPin(id, wrong);
        EXPECT_EQ(sign(), "");
    }
    EXPECT_EQ(card.triesLeft, 1);
    takeCalls();
    // The first of them typed again for the second certificate: refused at once, without reaching the
    // card or counting.
    engine.setPin(secondId, "0000");
    EXPECT_EQ(signWith(secondId), "");
    EXPECT_EQ(engine.getLastError(), 5);
    EXPECT_EQ(static_cast<std::uint32_t>(engine.getLastLowLevelError()), 0x8010006Bu);
    EXPECT_FALSE(presentedAny(takeCalls()));
    EXPECT_EQ(card.triesLeft, 1);
    EXPECT_EQ(engine.getModulesWithInvalidPin().size(), 2u);
    EXPECT_EQ(engine.getPinRetryCount(secondId), 0);

    // Once the card accepts a PIN, the one it refused may be presented again (the holder changed it).
    engine.setPin(secondId, "1234");
    EXPECT_NE(signWith(secondId), "");
    EXPECT_EQ(card.triesLeft, 3);
    card.pin = "0000";
    engine.setPin(secondId, "0000");
    EXPECT_NE(signWith(secondId), "");

    // A card put in the reader in its place is a new card: what the earlier one refused is not held
    // against it.
    engine.setPin(id, "4321");
    EXPECT_EQ(sign(), "");
    card.guid[0] ^= 1;
    card.pin = "4321";
    engine.setPin(secondId, "4321");
    EXPECT_NE(signWith(secondId), "");
    EXPECT_TRUE(presentedAny(takeCalls()));
}

TEST_F(CapiCardTest, ABlockedCardIsReportedAndSentNothingMore) {
    addSecondCertificate();
    EXPECT_EQ(engine.readPinState(id), PinState::Unknown);
    for (const char* wrong : {"1111", "2222", "3333"}) {
        engine.setPin(id, wrong);
        EXPECT_EQ(sign(), "");
        EXPECT_EQ(engine.getLastError(), 5) << wrong;
    }
    // The provider cannot tell a last try: the state stays unknown until the card says it is blocked.
    EXPECT_EQ(engine.readPinState(id), PinState::Unknown);
    engine.setPin(id, "4444");
    EXPECT_EQ(sign(), "");
    EXPECT_EQ(engine.getLastError(), 12);
    EXPECT_EQ(static_cast<std::uint32_t>(engine.getLastLowLevelError()), 0x8010006Cu);
    EXPECT_EQ(engine.readPinState(id), PinState::Locked);
    EXPECT_FALSE(engine.isPinInvalid());  // the PIN itself was not judged
    takeCalls();

    // Nothing reaches the card any more, for either certificate: no PIN, no signature.
    engine.setPin(secondId, "1234");
    EXPECT_EQ(signWith(secondId), "");
    EXPECT_EQ(engine.getLastError(), 12);
    EXPECT_EQ(static_cast<std::uint32_t>(engine.getLastLowLevelError()), 0x8010006Cu);
    EXPECT_EQ(engine.readPinState(secondId), PinState::Locked);
    EXPECT_EQ(takeCalls(), (Calls{"acquire", "release"}));
    // Known to the process, not just to this engine: a new one (the next page) tells it before signing.
    EXPECT_EQ(DigitalSignatureUtilCAPI(ScriptedCard::functions()).readPinState(id), PinState::Locked);

    // Unblocked elsewhere (the PUK); once the page starts over, the card is asked again.
    card.blocked = false;
    card.triesLeft = 3;
    engine.clearPins();
    engine.setPin(secondId, "1234");
    EXPECT_NE(signWith(secondId), "");
    EXPECT_EQ(engine.readPinState(secondId), PinState::Unknown);
}

TEST(CapiStores, AStoreThatCannotBeOpenedFailsEveryRequest) {
    static const wchar_t* refused = nullptr;
    static const CapiFunctions table = [] {
        CapiFunctions f = CapiFunctions::system();
        f.certOpenStore = [](LPCSTR provider, DWORD encoding, HCRYPTPROV_LEGACY legacy, DWORD flags,
                             const void* name) -> HCERTSTORE {
            if (std::wcscmp(static_cast<const wchar_t*>(name), refused) == 0) {
                SetLastError(ERROR_ACCESS_DENIED);
                return nullptr;
            }
            return CapiFunctions::system().certOpenStore(provider, encoding, legacy, flags, name);
        };
        return f;
    }();
    DigitalSignatureUtilCAPI engine(table);
    for (const wchar_t* store : {L"Root", L"CA", L"My"}) {
        refused = store;
        EXPECT_EQ(engine.getDigitalSignatureCertificates(pki().value("ROOT_NAME")), "");
        EXPECT_EQ(engine.getLastError(), 12);
        EXPECT_EQ(engine.getLastLowLevelError(), ERROR_ACCESS_DENIED);
        EXPECT_NE(engine.getLastErrorMessage(), "");
    }
    EXPECT_EQ(engine.getCertificate(pki().id("good")), "");
    EXPECT_EQ(engine.getLastError(), 12);
    EXPECT_EQ(sign(engine, pki().id("good"), Bytes(32, 1)), "");
    EXPECT_EQ(engine.getLastError(), 12);
    EXPECT_EQ(engine.getLastLowLevelError(), ERROR_ACCESS_DENIED);
}
