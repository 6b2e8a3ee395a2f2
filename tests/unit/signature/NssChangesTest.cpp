// What the NSS engines keep between requests (the stores, the keys found for signing) must never change a
// result: every change to the database or the tokens shows in the next request of every engine.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include <secerr.h>
#include <secmod.h>

#include "EngineContract.h"
#include "signature/platform/nss/DigitalSignatureUtilNSS.h"
#include "signature/platform/nss/NssDatabase.h"

namespace {

namespace fs = std::filesystem;

// A copy of the fixture's database and token, as HOME and SOFTHSM2_CONF, that a test may change.
class NssChangesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        DigitalSignatureUtil::releaseSharedState();
        PinCache::clearEveryOrigin();
        fs::create_directories(tmp.path() + "/home/.pki");
        fs::copy(pki.dir() + "/home/.pki/nssdb", database(), fs::copy_options::recursive);
        fs::copy(pki.dir() + "/tokens", tmp.path() + "/tokens", fs::copy_options::recursive);
        writeFile(tmp.path() + "/softhsm2.conf",
                  "directories.tokendir = " + tmp.path() +
                      "/tokens\nobjectstore.backend = file\nlog.level = ERROR\nslots.removable = false\n");
        home.emplace("HOME", tmp.path() + "/home");
        tokens.emplace("SOFTHSM2_CONF", tmp.path() + "/softhsm2.conf");
    }
    void TearDown() override {
        first.reset();
        second.reset();
        DigitalSignatureUtil::releaseSharedState();
        PinCache::clearEveryOrigin();
    }

    std::string database() const { return tmp.path() + "/home/.pki/nssdb"; }
    void certutil(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"certutil", "-d", "sql:" + database()});
        const CommandResult r = runCommand(arguments);
        ASSERT_EQ(r.status, 0) << r.output;
    }
    bool lists(DigitalSignatureUtil& engine, const std::string& id) {
        bool found = false;
        for (const contract::Listed& entry :
             contract::parseListing(engine.getDigitalSignatureCertificates(pki.value("ROOT_NAME")))) {
            found = found || entry.id == id;
        }
        EXPECT_EQ(engine.getLastError(), 0);
        return found;
    }
    std::string sign(DigitalSignatureUtil& engine, const std::string& id) {
        return engine.signPkcs1(id, Base64::encode(contract::Bytes(32, 5)));
    }

    const PkiFixture& pki = PkiFixture::get();
    TempDir tmp;
    std::optional<ScopedEnv> home;
    std::optional<ScopedEnv> tokens;
    std::optional<DigitalSignatureUtilNSS> first{std::in_place};
    std::optional<DigitalSignatureUtilNSS> second{std::in_place};
};

}  // namespace

TEST_F(NssChangesTest, CertificateRemovedAndAddedShowsInTheNextRequestOfEveryEngine) {
    const std::string good = pki.id("good");
    ASSERT_TRUE(lists(*first, good));
    ASSERT_TRUE(lists(*second, good));
    ASSERT_NE(sign(*first, good), "");

    certutil({"-D", "-n", "good"});
    // The first engine to ask reloads; the second, which listed the same stores before, sees the change
    // too, and so does the signature with the key found before.
    EXPECT_FALSE(lists(*first, good));
    EXPECT_FALSE(lists(*second, good));
    EXPECT_EQ(second->getCertificate(good), "");
    EXPECT_EQ(second->getLastError(), 2);
    EXPECT_EQ(sign(*first, good), "");
    EXPECT_EQ(first->getLastError(), 2);
    EXPECT_EQ(first->getLastLowLevelError(), SEC_ERROR_UNKNOWN_CERT);

    certutil({"-A", "-n", "good", "-t", ",,", "-i", pki.pemPath("good")});
    EXPECT_TRUE(lists(*second, good));
    EXPECT_EQ(first->getCertificate(good), pki.derBase64("good"));
    EXPECT_NE(sign(*first, good), "");
}

TEST_F(NssChangesTest, TokenModuleRemovedAndLoadedAgainShowsInTheNextRequest) {
    const std::string card = pki.id("card");
    ASSERT_TRUE(lists(*first, card));
    SECMODModule* module = SECMOD_FindModule("SoftHSM2");
    ASSERT_NE(module, nullptr);
    const std::string library = module->dllName;
    SECMOD_DestroyModule(module);

    // Removed in the process, as a browser's device manager does.
    int type = 0;
    ASSERT_EQ(SECMOD_DeleteModule("SoftHSM2", &type), SECSuccess);
    EXPECT_FALSE(lists(*first, card));
    EXPECT_EQ(sign(*second, card), "");
    EXPECT_EQ(second->getLastError(), 2);

    SECMODModule* again = SECMOD_LoadUserModule(
        const_cast<char*>(("name=SoftHSM2 library=\"" + library + "\"").c_str()), nullptr, PR_FALSE);
    ASSERT_TRUE(again && again->loaded);
    EXPECT_TRUE(lists(*second, card));
    SECMOD_DestroyModule(again);
}

TEST_F(NssChangesTest, TokenLoggedInAndOutByAnotherCallerShowsInTheNextRequest) {
    // A second certificate for the card's key, kept on the token as a private object: NSS shows it only
    // while the token is logged in.
    const std::string dir = tmp.path();
    writeFile(dir + "/ext.cnf", "[ user ]\nkeyUsage = critical, nonRepudiation\n");
    const std::string subject = "/C=ES/O=Brindlemoor Pruebas/CN=Private Card Holder";
    const CommandResult issued = runCommand(
        {"sh", "-c",
         "openssl req -new -key \"$0/keys/card.key\" -subj \"$2\" | openssl x509 -req -CA "
         "\"$0/certs/int2.pem\" "
         "-CAkey \"$0/keys/int2.key\" -set_serial 0x7A01 -days 30 -extfile \"$1/ext.cnf\" -extensions user "
         "-outform DER -out \"$1/p.der\"",
         pki.dir(), dir, subject});
    ASSERT_EQ(issued.status, 0) << issued.output;
    const std::string card = pki.id("card");
    ASSERT_TRUE(lists(*first, card));
    std::string der = readFile(dir + "/p.der");
    SECItem derItem{siBuffer, reinterpret_cast<unsigned char*>(der.data()),
                    static_cast<unsigned int>(der.size())};
    CertPtr decoded(CERT_NewTempCertificate(CERT_GetDefaultCertDB(), &derItem, nullptr, PR_FALSE, PR_TRUE));
    ASSERT_TRUE(decoded);
    const std::string privateId = DigitalSignatureUtilNSS::certificateIdentifier(*decoded);

    ASSERT_FALSE(lists(*first, privateId));
    SlotPtr slot(PK11_FindSlotByName(pki.value("TOKEN_LABEL").c_str()));
    ASSERT_TRUE(slot);
    ASSERT_EQ(PK11_CheckUserPassword(slot.get(), pki.value("TOKEN_PIN").c_str()), SECSuccess);
    {
        std::unique_ptr<SECItem, void (*)(SECItem*)> keyId(
            PK11_GetLowLevelKeyIDForCert(nullptr, decoded.get(), nullptr),
            [](SECItem* item) { SECITEM_FreeItem(item, PR_TRUE); });
        ASSERT_TRUE(keyId);
        std::vector<unsigned char> serial = {0x02, static_cast<unsigned char>(decoded->serialNumber.len)};
        serial.insert(serial.end(), decoded->serialNumber.data,
                      decoded->serialNumber.data + decoded->serialNumber.len);
        CK_OBJECT_CLASS certificateClass = CKO_CERTIFICATE;
        CK_CERTIFICATE_TYPE x509 = CKC_X_509;
        CK_BBOOL yes = CK_TRUE;
        char label[] = "private card holder";
        CK_ATTRIBUTE attributes[] = {
            {CKA_CLASS, &certificateClass, sizeof(certificateClass)},
            {CKA_CERTIFICATE_TYPE, &x509, sizeof(x509)},
            {CKA_TOKEN, &yes, sizeof(yes)},
            {CKA_PRIVATE, &yes, sizeof(yes)},
            {CKA_LABEL, label, sizeof(label) - 1},
            {CKA_ID, keyId->data, keyId->len},
            {CKA_SUBJECT, decoded->derSubject.data, decoded->derSubject.len},
            {CKA_ISSUER, decoded->derIssuer.data, decoded->derIssuer.len},
            {CKA_SERIAL_NUMBER, serial.data(), static_cast<CK_ULONG>(serial.size())},
            {CKA_VALUE, derItem.data, derItem.len},
        };
        PK11GenericObject* object = PK11_CreateGenericObject(slot.get(), attributes, 10, PR_TRUE);
        ASSERT_NE(object, nullptr) << PORT_GetError();
        PK11_DestroyGenericObject(object);
    }
    decoded.reset();

    // Logged in by another caller: the private certificate is listed, and the card signs without a PIN.
    EXPECT_TRUE(lists(*first, privateId));
    EXPECT_NE(sign(*second, card), "");
    EXPECT_EQ(second->getLastError(), 0);

    PK11_Logout(slot.get());
    EXPECT_FALSE(lists(*second, privateId));
    EXPECT_TRUE(lists(*first, card));
    EXPECT_EQ(sign(*first, card), "");
    EXPECT_EQ(first->getLastError(), 11);
}

TEST_F(NssChangesTest, AKeptKeyThatFailsToSignIsFoundAgainAndTheRequestStillSigns) {
    const std::string good = pki.id("good");
    const std::string expected = sign(*first, good);
    ASSERT_NE(expected, "");
    // The same database the engines share, as they opened it; the key kept for the certificate is spoilt
    // so that signing with it fails, as a key handle gone stale would.
    std::shared_ptr<NssDatabase> shared = NssDatabase::forDirectory(database());
    ASSERT_TRUE(shared);
    {
        NssDatabase::Request request(*shared);
        NssDatabase::KeptKey* kept = shared->keptKey(good);
        ASSERT_NE(kept, nullptr);
        kept->signatureLength = 0;
    }
    // PKCS#1 v1.5 is deterministic: the request that starts over gives the signature a first one gives.
    EXPECT_EQ(sign(*second, good), expected);
    EXPECT_EQ(second->getLastError(), 0);
    NssDatabase::Request request(*shared);
    ASSERT_NE(shared->keptKey(good), nullptr);
    EXPECT_GT(shared->keptKey(good)->signatureLength, 0);
}
