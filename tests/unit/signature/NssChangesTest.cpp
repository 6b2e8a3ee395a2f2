// What the NSS engines keep between requests (the stores, the keys found for signing) must never change a
// result: every change to the database or the tokens shows in the next request of every engine.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>

#include <prerror.h>
#include <secerr.h>
#include <secmod.h>

#include "EngineContract.h"
#include "signature/RefusedPins.h"
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
        RefusedPins::process().clear();
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
    // A further nonRepudiation certificate for the card's key, stored on the token (as a private object:
    // NSS shows it only while the token is logged in). Gives its identifier.
    std::string addCardCertificate(const std::string& serial, bool privateObject);

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

TEST_F(NssChangesTest, StoreDeletedReplacedOrLosingItsModuleShowsInTheNextRequestOfEveryEngine) {
    const std::string good = pki.id("good");
    const std::string card = pki.id("card");
    ASSERT_TRUE(lists(*first, card));
    ASSERT_NE(sign(*second, good), "");  // its key is kept
    auto signsNot = [&](DigitalSignatureUtil& engine, const std::string& id) {
        engine.setPin(id, pki.value("TOKEN_PIN"));
        EXPECT_EQ(sign(engine, id), "") << id;
        EXPECT_EQ(engine.getLastError(), 2) << id;
    };

    // Another program takes the token's module out of the database.
    const CommandResult removed =
        runCommand({"modutil", "-dbdir", "sql:" + database(), "-delete", "SoftHSM2", "-force"});
    ASSERT_EQ(removed.status, 0) << removed.output;
    EXPECT_FALSE(lists(*second, card));
    signsNot(*first, card);
    EXPECT_NE(sign(*first, good), "");

    // A database without the certificate put in its place; it has the module again.
    const std::string other = tmp.path() + "/other";
    fs::copy(pki.dir() + "/home/.pki/nssdb", other, fs::copy_options::recursive);
    const CommandResult deleted = runCommand({"certutil", "-d", "sql:" + other, "-D", "-n", "good"});
    ASSERT_EQ(deleted.status, 0) << deleted.output;
    fs::remove_all(database());
    fs::rename(other, database());
    EXPECT_FALSE(lists(*first, good));
    signsNot(*second, good);
    EXPECT_TRUE(lists(*second, card));

    // The database deleted: nothing to list or sign with, until it is back.
    fs::remove_all(database());
    EXPECT_FALSE(lists(*second, card));
    signsNot(*first, card);
    signsNot(*second, good);
    fs::copy(pki.dir() + "/home/.pki/nssdb", database(), fs::copy_options::recursive);
    EXPECT_TRUE(lists(*first, good));
    EXPECT_NE(sign(*second, good), "");
}

std::string NssChangesTest::addCardCertificate(const std::string& serial, bool privateObject) {
    EXPECT_TRUE(lists(*first, pki.id("card")));  // NSS open on the copy
    const std::string dir = tmp.path();
    writeFile(dir + "/ext.cnf", "[ user ]\nkeyUsage = critical, nonRepudiation\n");
    const std::string subject = "/C=ES/O=Brindlemoor Pruebas/CN=Card Holder " + serial;
    const CommandResult issued =
        runCommand({"sh", "-c",
                    "openssl req -new -key \"$0/keys/card.key\" -subj \"$2\" | openssl x509 -req -CA "
                    "\"$0/certs/int2.pem\" -CAkey \"$0/keys/int2.key\" -set_serial 0x$3 -days 30 -extfile "
                    "\"$1/ext.cnf\" -extensions user -outform DER -out \"$1/p.der\"",
                    pki.dir(), dir, subject, serial});
    EXPECT_EQ(issued.status, 0) << issued.output;
    std::string der = readFile(dir + "/p.der");
    SECItem derItem{siBuffer, reinterpret_cast<unsigned char*>(der.data()),
                    static_cast<unsigned int>(der.size())};
    CertPtr decoded(CERT_NewTempCertificate(CERT_GetDefaultCertDB(), &derItem, nullptr, PR_FALSE, PR_TRUE));
    if (!decoded) {
        ADD_FAILURE() << "certificate not decoded";
        return {};
    }
    SlotPtr slot(PK11_FindSlotByName(pki.value("TOKEN_LABEL").c_str()));
    EXPECT_TRUE(slot && PK11_CheckUserPassword(slot.get(), pki.value("TOKEN_PIN").c_str()) == SECSuccess);
    std::unique_ptr<SECItem, void (*)(SECItem*)> keyId(
        PK11_GetLowLevelKeyIDForCert(nullptr, decoded.get(), nullptr),
        [](SECItem* item) { SECITEM_FreeItem(item, PR_TRUE); });
    EXPECT_TRUE(keyId);
    std::vector<unsigned char> serialDer = {0x02, static_cast<unsigned char>(decoded->serialNumber.len)};
    serialDer.insert(serialDer.end(), decoded->serialNumber.data,
                     decoded->serialNumber.data + decoded->serialNumber.len);
    CK_OBJECT_CLASS certificateClass = CKO_CERTIFICATE;
    CK_CERTIFICATE_TYPE x509 = CKC_X_509;
    CK_BBOOL yes = CK_TRUE;
    CK_BBOOL isPrivate = privateObject ? CK_TRUE : CK_FALSE;
    std::string label = "card holder " + serial;
    CK_ATTRIBUTE attributes[] = {
        {CKA_CLASS, &certificateClass, sizeof(certificateClass)},
        {CKA_CERTIFICATE_TYPE, &x509, sizeof(x509)},
        {CKA_TOKEN, &yes, sizeof(yes)},
        {CKA_PRIVATE, &isPrivate, sizeof(isPrivate)},
        {CKA_LABEL, label.data(), static_cast<CK_ULONG>(label.size())},
        {CKA_ID, keyId ? keyId->data : nullptr, keyId ? keyId->len : 0},
        {CKA_SUBJECT, decoded->derSubject.data, decoded->derSubject.len},
        {CKA_ISSUER, decoded->derIssuer.data, decoded->derIssuer.len},
        {CKA_SERIAL_NUMBER, serialDer.data(), static_cast<CK_ULONG>(serialDer.size())},
        {CKA_VALUE, derItem.data, derItem.len},
    };
    PK11GenericObject* object = PK11_CreateGenericObject(slot.get(), attributes, 10, PR_TRUE);
    EXPECT_NE(object, nullptr) << PORT_GetError();
    if (object) {
        PK11_DestroyGenericObject(object);
    }
    PK11_Logout(slot.get());
    return DigitalSignatureUtilNSS::certificateIdentifier(*decoded);
}

TEST_F(NssChangesTest, TokenLoggedInAndOutByAnotherCallerShowsInTheNextRequest) {
    const std::string card = pki.id("card");
    ASSERT_TRUE(lists(*first, card));
    const std::string privateId = addCardCertificate("7A01", true);
    ASSERT_FALSE(lists(*first, privateId));
    SlotPtr slot(PK11_FindSlotByName(pki.value("TOKEN_LABEL").c_str()));
    ASSERT_TRUE(slot);
    ASSERT_EQ(PK11_CheckUserPassword(slot.get(), pki.value("TOKEN_PIN").c_str()), SECSuccess);

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

namespace {

// The token made to count tries as a card does: three wrong PINs in a row block it, the right PIN resets
// the count, and its flags follow. Shared by every engine made on it, as a card is.
struct Card {
    int triesLeft = 3;
    int presented = 0;
};

class CardEngine : public DigitalSignatureUtilNSS {
  public:
    explicit CardEngine(Card& card, const std::string& origin = "") : card_(card) { setPinOrigin(origin); }

  protected:
    SECStatus checkUserPassword(PK11SlotInfo* slot, const std::string& pin) override {
        ++card_.presented;
        if (card_.triesLeft == 0) {
            PR_SetError(SEC_ERROR_LOCKED_PASSWORD, 0);
            return SECFailure;
        }
        if (pin != PkiFixture::get().value("TOKEN_PIN")) {
            --card_.triesLeft;
            PR_SetError(SEC_ERROR_BAD_PASSWORD, 0);
            return SECFailure;
        }
        card_.triesLeft = 3;
        return DigitalSignatureUtilNSS::checkUserPassword(slot, pin);
    }
    PinState tokenPinState(PK11SlotInfo*) override {
        return card_.triesLeft == 0   ? PinState::Locked
               : card_.triesLeft == 1 ? PinState::FinalTry
                                      : PinState::Ok;
    }

  private:
    Card& card_;
};

}  // namespace

TEST_F(NssChangesTest, TwoCertificatesOfOneCardShareItsTriesAndABlockedCardIsLeftAlone) {
    const std::string card = pki.id("card");
    const std::string other = addCardCertificate("7A02", false);
    // NSS reads the token's certificates afresh.
    first.reset();
    second.reset();
    DigitalSignatureUtil::releaseSharedState();
    Card counter;
    CardEngine engine(counter);
    auto signWith = [&](CardEngine& e, const std::string& id, const std::string& pin) {
        e.setPin(id, pin);
        return sign(e, id);
    };

    // A PIN the card refused for one certificate is not presented for the other, nor from another site.
    EXPECT_EQ(signWith(engine, card, "0000"), "");
    EXPECT_EQ(signWith(engine, other, "0000"), "");
    EXPECT_EQ(engine.getLastError(), 5);
    const std::vector<std::string> invalid = engine.getModulesWithInvalidPin();
    EXPECT_EQ(std::set<std::string>(invalid.begin(), invalid.end()), (std::set<std::string>{card, other}));
    EXPECT_EQ(engine.getPinRetryCount(other), 0) << "the card did not refuse it again";
    CardEngine elsewhere(counter, "https://other.test");
    EXPECT_EQ(signWith(elsewhere, other, "0000"), "");
    EXPECT_EQ(elsewhere.getLastError(), 5);
    EXPECT_EQ(counter.presented, 1);
    EXPECT_EQ(counter.triesLeft, 2);
    EXPECT_EQ(engine.getPinState(other), PinState::Ok);

    // The right PIN resets the card and the memory of what it refused.
    EXPECT_NE(signWith(engine, other, pki.value("TOKEN_PIN")), "");
    EXPECT_EQ(RefusedPins::process().size(), 0u);
    EXPECT_EQ(signWith(engine, other, "1111"), "");
    EXPECT_EQ(signWith(engine, card, "2222"), "");
    EXPECT_EQ(engine.getLastError(), 5);
    EXPECT_EQ(engine.getPinState(card), PinState::FinalTry);

    // The attempt that blocks the card says so; after it nothing reaches the card, not even the right PIN.
    EXPECT_EQ(signWith(engine, other, "3333"), "");
    EXPECT_EQ(engine.getLastError(), 12);
    EXPECT_EQ(engine.getLastLowLevelError(), SEC_ERROR_LOCKED_PASSWORD);
    EXPECT_EQ(engine.getPinState(other), PinState::Locked);
    const int presented = counter.presented;
    for (const std::string& id : {card, other}) {
        EXPECT_EQ(signWith(engine, id, pki.value("TOKEN_PIN")), "");
        EXPECT_EQ(engine.getLastError(), 12);
        EXPECT_EQ(engine.getLastLowLevelError(), SEC_ERROR_LOCKED_PASSWORD);
        EXPECT_NE(engine.getLastErrorMessage(), "");
    }
    EXPECT_EQ(counter.presented, presented);
}

// NSS opened again on a replaced store numbers its modules and slots afresh; the card is still the card
// that refused the PIN, and its tries still count.
TEST_F(NssChangesTest, APinTheCardRefusedIsNotPresentedAgainAfterTheStoreIsOpenedAfresh) {
    const std::string card = pki.id("card");
    Card counter;
    CardEngine engine(counter);
    engine.setPin(card, "0000");
    EXPECT_EQ(sign(engine, card), "");
    ASSERT_EQ(counter.presented, 1);

    const std::string copy = tmp.path() + "/copy";
    fs::copy(database(), copy, fs::copy_options::recursive);
    fs::remove_all(database());
    fs::rename(copy, database());
    CardEngine elsewhere(counter, "https://other.test");
    elsewhere.setPin(card, "0000");
    EXPECT_EQ(sign(elsewhere, card), "");
    EXPECT_EQ(elsewhere.getLastError(), 5);
    EXPECT_EQ(counter.presented, 1);
    elsewhere.setPin(card, pki.value("TOKEN_PIN"));
    EXPECT_NE(sign(elsewhere, card), "");
    EXPECT_EQ(counter.presented, 2);
}

namespace {

// Another process holding an exclusive SQLite transaction on a database file until the object goes: the
// write lock SQLite takes then on the pending byte and the shared range at 1 GiB (rollback journal).
class ExclusiveTransaction {
  public:
    explicit ExclusiveTransaction(const std::string& file) {
        int ready[2];
        EXPECT_EQ(pipe(ready), 0);
        EXPECT_EQ(pipe(release_), 0);
        child_ = fork();
        if (child_ == 0) {
            close(release_[1]);  // so that the parent's close ends the wait
            const int fd = open(file.c_str(), O_RDWR);
            struct flock lock {};
            lock.l_type = F_WRLCK;
            lock.l_whence = SEEK_SET;
            lock.l_start = 0x40000000;
            lock.l_len = 512;
            const char status = fd >= 0 && fcntl(fd, F_SETLK, &lock) == 0 ? 'y' : 'n';
            (void)!write(ready[1], &status, 1);
            char done;
            (void)!read(release_[0], &done, 1);
            _exit(0);
        }
        close(ready[1]);
        close(release_[0]);
        char status = 0;
        EXPECT_EQ(read(ready[0], &status, 1), 1);
        EXPECT_EQ(status, 'y') << "the lock was not taken";
        close(ready[0]);
    }
    ~ExclusiveTransaction() {
        close(release_[1]);
        int status = 0;
        waitpid(child_, &status, 0);
    }

  private:
    int release_[2] = {-1, -1};
    pid_t child_ = -1;
};

}  // namespace

TEST_F(NssChangesTest, AStoreThatCannotBeReadIsAnErrorWithinSecondsAndTheNextRequestListsAsUsual) {
    const std::string good = pki.id("good");
    const std::string root = pki.value("ROOT_NAME");
    auto quickly = [](auto&& request) {
        const auto start = std::chrono::steady_clock::now();
        request();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    };
    // An engine that listed before the lock; a write just before it makes the stores be read again.
    ASSERT_TRUE(lists(*first, good));
    {
        certutil({"-M", "-n", "good", "-t", "u,u,u"});
        ExclusiveTransaction lock(database() + "/cert9.db");
        quickly([&] { EXPECT_EQ(first->getDigitalSignatureCertificates(root), ""); });
        EXPECT_EQ(first->getLastError(), 12);
        EXPECT_EQ(first->getLastLowLevelError(), SEC_ERROR_BAD_DATABASE);
        EXPECT_NE(first->getLastErrorMessage(), "");
        quickly([&] { EXPECT_EQ(sign(*first, good), ""); });
        EXPECT_EQ(first->getLastError(), 12);
    }
    EXPECT_TRUE(lists(*first, good));
    EXPECT_NE(sign(*second, good), "");

    // A process that opens the database while it is locked.
    first.reset();
    second.reset();
    DigitalSignatureUtil::releaseSharedState();
    {
        ExclusiveTransaction lock(database() + "/cert9.db");
        DigitalSignatureUtilNSS engine;
        quickly([&] { EXPECT_EQ(engine.getDigitalSignatureCertificates(root), ""); });
        EXPECT_EQ(engine.getLastError(), 12);
    }
    DigitalSignatureUtilNSS engine;
    EXPECT_TRUE(lists(engine, good));
}

TEST_F(NssChangesTest, ADamagedStoreIsAnErrorNotAnEmptyStore) {
    const std::string good = pki.id("good");
    const std::string saved = tmp.path() + "/cert9.db.saved";
    fs::copy_file(database() + "/cert9.db", saved);
    // Everything after SQLite's first page overwritten: NSS still opens the file, and its listing reads
    // nothing from it, as from an empty store. The token's own certificate is still listed beside it.
    {
        const auto size = fs::file_size(saved);
        std::fstream file(database() + "/cert9.db", std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(4096);
        file << std::string(size - 4096, '\x5a');
    }
    EXPECT_EQ(first->getDigitalSignatureCertificates(pki.value("ROOT_NAME")), "");
    EXPECT_EQ(first->getLastError(), 12);
    EXPECT_LT(first->getLastLowLevelError(), 0);
    EXPECT_NE(first->getLastErrorMessage(), "");
    EXPECT_EQ(sign(*first, good), "");
    EXPECT_EQ(first->getLastError(), 12);

    // The file put back in place of the damaged one: the next request reads it as usual.
    fs::copy_file(saved, database() + "/cert9.db.new");
    fs::rename(database() + "/cert9.db.new", database() + "/cert9.db");
    EXPECT_TRUE(lists(*second, good));
}
