#include "signature/platform/nss/NssDatabase.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include <certdb.h>
#include <pk11pub.h>
#include <prerror.h>
#include <secerr.h>
#include <secmod.h>

#include "signature/Base64.h"
#include "signature/RefusedPins.h"
#include "signature/platform/nss/DigitalSignatureUtilNSS.h"

namespace {

// The engine presents PINs itself with PK11_CheckUserPassword, so whenever NSS would ask for one (a
// listing walking a logged-out token, a key lookup) the answer is no PIN: no login, and never a prompt.
char* refusePasswordPrompt(PK11SlotInfo*, PRBool, void*) {
    return nullptr;
}

bool isTrustedAnchor(CERTCertificate* cert) {
    CERTCertTrust trust{};
    if (CERT_GetCertTrust(cert, &trust) != SECSuccess) {
        return false;
    }
    return ((trust.sslFlags | trust.emailFlags | trust.objectSigningFlags) & CERTDB_TRUSTED_CA) != 0;
}

// The database files whose change means the stores must be read again: certificates, keys, modules.
constexpr std::array<const char*, 3> kDatabaseFiles = {"/cert9.db", "/key4.db", "/pkcs11.txt"};

std::mutex& registryLock() {
    static std::mutex lock;
    return lock;
}

// Never destroyed as a static: the exit handler below lets the database go at the right moment.
std::shared_ptr<NssDatabase>& keptDatabase() {
    static auto* kept = new std::shared_ptr<NssDatabase>();
    return *kept;
}

}  // namespace

bool NssDatabase::writeLocked(const std::string& file) {
    // SQLite (rollback journal) takes its locks on a range of bytes at 1 GiB: the pending byte, the
    // reserved byte and the shared range. A writer about to commit, or holding an exclusive transaction,
    // write-locks the pending byte or the shared range, and every reader then waits for it.
    constexpr off_t kPendingByte = 0x40000000;
    constexpr off_t kLockRange = 512;
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct flock probe {};
    probe.l_type = F_RDLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = kPendingByte;
    probe.l_len = kLockRange;
    const bool locked = fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
    close(fd);
    return locked;
}

bool NssDatabase::waitUntilReadable(const std::string& directory) {
    // NSS would wait far longer (half a minute and more) and then answer as if the store were empty; a
    // commit holds its lock for milliseconds, so what holds it longer than this is a store that cannot be
    // read now.
    constexpr auto kPatience = std::chrono::milliseconds(1000);
    constexpr auto kPoll = std::chrono::milliseconds(50);
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    for (;;) {
        const bool locked = writeLocked(directory + "/cert9.db") || writeLocked(directory + "/key4.db");
        if (!locked) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(kPoll);
    }
}

std::shared_ptr<NssDatabase> NssDatabase::forDirectory(const std::string& directory) {
    const std::lock_guard lock(registryLock());
    std::shared_ptr<NssDatabase>& kept = keptDatabase();
    if (kept && kept->directory_ == directory) {
        return kept;
    }
    // Let go of another directory first: when no engine uses it, its context was the last one and NSS
    // starts afresh on the new directory.
    kept.reset();
    ContextPtr context = openContext(directory);
    if (!context) {
        return nullptr;
    }
    kept = std::make_shared<NssDatabase>(directory, std::move(context));
    return kept;
}

ContextPtr NssDatabase::openContext(const std::string& directory) {
    NSSInitParameters parameters{};
    parameters.length = sizeof(parameters);
    // Read-only, so that a browser using the same database keeps working; the built-in root module is not
    // loaded, the stores are what the user's database holds.
    const std::string configDir = "sql:" + directory;
    ContextPtr context(NSS_InitContext(configDir.c_str(), "", "", "secmod.db", &parameters,
                                       NSS_INIT_READONLY | NSS_INIT_NOROOTINIT));
    if (!context) {
        if (PR_GetError() == 0) {
            PR_SetError(SEC_ERROR_BAD_DATABASE, 0);
        }
        return context;
    }
    PK11_SetPasswordFunc(refusePasswordPrompt);
    // At exit the kept database is let go, so that NSS closes (and finalizes the token modules) as it
    // did when the last engine went. Registered after the modules were loaded, so it runs before their
    // own exit handlers; once per opening, since NSS loads the modules again each time it starts.
    std::atexit(&NssDatabase::releaseKept);
    return context;
}

void NssDatabase::releaseKept() {
    std::shared_ptr<NssDatabase> released;
    {
        const std::lock_guard lock(registryLock());
        released = std::move(keptDatabase());
    }
}

NssDatabase::NssDatabase(const std::string& directory, ContextPtr context)
    : directory_(directory), context_(std::move(context)) {}

NssDatabase::~NssDatabase() {
    keys_.clear();
    stores_.reset();
}

NssDatabase::Request::Request(NssDatabase& database) : lock_(database.lock_), database_(database) {
    if (database_.depth_++ == 0) {
        database_.readable_ = database_.refresh();
    }
}

bool NssDatabase::Request::readable() const {
    return database_.readable_;
}

NssDatabase::Request::~Request() {
    --database_.depth_;
}

NssDatabase::State NssDatabase::currentState() const {
    State state;
    for (std::size_t i = 0; i < kDatabaseFiles.size(); ++i) {
        const std::string path = directory_ + kDatabaseFiles[i];
        FileState& file = state.files[i];
        struct stat st {};
        if (stat(path.c_str(), &st) != 0) {
            continue;
        }
        file.exists = true;
        file.device = st.st_dev;
        file.inode = st.st_ino;
        file.size = st.st_size;
        file.modifiedSeconds = st.st_mtim.tv_sec;
        file.modifiedNanoseconds = st.st_mtim.tv_nsec;
        // File times are as coarse as the kernel's tick and a deletion need not change the size; SQLite's
        // change counter (bytes 24-27 of its header) tells every committed write apart.
        if (i < 2) {
            const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
            unsigned char counter[4] = {};
            if (fd >= 0) {
                if (pread(fd, counter, sizeof(counter), 24) == static_cast<ssize_t>(sizeof(counter))) {
                    file.changeCounter = (std::uint32_t{counter[0]} << 24) |
                                         (std::uint32_t{counter[1]} << 16) |
                                         (std::uint32_t{counter[2]} << 8) | std::uint32_t{counter[3]};
                }
                close(fd);
            }
        }
    }
    if (!context_) {
        return state;
    }
    // The tokens: taken under the module list's lock, asked about after it is released (asking a token
    // may make NSS update its slot).
    std::vector<SlotPtr> slots;
    std::vector<SECMODModuleID> modules;
    SECMODListLock* listLock = SECMOD_GetDefaultModuleListLock();
    SECMOD_GetReadLock(listLock);
    for (SECMODModuleList* entry = SECMOD_GetDefaultModuleList(); entry; entry = entry->next) {
        SECMODModule* module = entry->module;
        // A module without slots still counts: it was added.
        state.tokens.push_back({module->moduleID, 0, false, -1, false});
        for (int i = 0; i < module->slotCount; ++i) {
            slots.emplace_back(PK11_ReferenceSlot(module->slots[i]));
            modules.push_back(module->moduleID);
        }
    }
    SECMOD_ReleaseReadLock(listLock);
    for (std::size_t i = 0; i < slots.size(); ++i) {
        PK11SlotInfo* slot = slots[i].get();
        const bool present = PK11_IsPresent(slot);
        state.tokens.push_back({modules[i], PK11_GetSlotID(slot), present, PK11_GetSlotSeries(slot),
                                present && PK11_IsLoggedIn(slot, nullptr)});
    }
    return state;
}

bool NssDatabase::refresh() {
    if (!waitUntilReadable(directory_)) {
        // Nothing read under the lock is kept, and the next request looks at everything again.
        dropKept();
        stateKnown_ = false;
        PR_SetError(SEC_ERROR_BAD_DATABASE, 0);
        return false;
    }
    State state = currentState();
    if (stateKnown_ && state == state_ && context_) {
        return true;
    }
    dropKept();
    // NSS reads on from the files it opened and keeps the modules it loaded: a database deleted or put
    // in place of another, or a module list changed by another program, needs NSS started on it afresh.
    if (!context_ || (stateKnown_ && replaced(state_, state))) {
        stateKnown_ = false;
        context_.reset();
        if (state.files[0].exists) {
            context_ = openContext(directory_);
            if (!context_) {
                return false;  // NSS's error stays; the next request tries again
            }
            RefusedPins::process().renumbered();
        }
        state = currentState();
    }
    state_ = std::move(state);
    stateKnown_ = true;
    return true;
}

bool NssDatabase::replaced(const State& before, const State& now) {
    for (std::size_t i = 0; i < 2; ++i) {
        const FileState& a = before.files[i];
        const FileState& b = now.files[i];
        if (a.exists != b.exists || a.device != b.device || a.inode != b.inode) {
            return true;
        }
    }
    return before.files[2] != now.files[2];
}

void NssDatabase::dropKept() {
    keys_.clear();
    stores_.reset();
}

const Stores& NssDatabase::stores() {
    if (stores_ && stores_->readError == 0) {
        return *stores_;
    }
    stores_ = std::make_unique<Stores>();
    if (!context_) {
        return *stores_;  // the database is gone: every store is empty
    }
    Stores& stores = *stores_;
    std::map<std::string, std::size_t> issuerIndex;
    // Known authorities: subject text to parsed issuer, "Root" first and then "CA", later ones winning.
    std::vector<std::pair<std::string, std::string>> roots;
    std::vector<std::pair<std::string, std::string>> intermediates;

    // Making a certificate object is what costs (NSS looks for its key on every token), so the three
    // stores come from one walk: "My" is what has a key, CA certificates go to "Root" when trusted as
    // anchors and to "CA" otherwise (a CA certificate with a key is in "My" too).
    CertListPtr all(PK11_ListCerts(PK11CertListUnique, nullptr));
    bool fromDatabase = false;
    forEachCertificate(all.get(), [&](CERTCertificate* cert) {
        fromDatabase = fromDatabase || (cert->slot != nullptr && PK11_IsInternal(cert->slot));
        if (CERT_IsUserCert(cert)) {
            StoredCertificate stored;
            stored.cert.reset(CERT_DupCertificate(cert));
            stored.issuer = DigitalSignatureUtilNSS::nameToText(cert->issuer);
            stored.subject = DigitalSignatureUtilNSS::nameToText(cert->subject);
            auto [it, added] = issuerIndex.try_emplace(stored.issuer, stores.issuers.size());
            if (added) {
                stores.issuers.push_back(DigitalSignatureUtil::parseDistinguishedName(stored.issuer));
            }
            stored.issuerIndex = it->second;
            stored.serial = DigitalSignatureUtilNSS::serialOctets(*cert);
            stored.serialBase64 = Base64::encode(stored.serial);
            stored.timesKnown = CERT_GetCertTimes(cert, &stored.notBefore, &stored.notAfter) == SECSuccess;
            stored.nonRepudiationKey = DigitalSignatureUtilNSS::hasNonRepudiationKey(cert);
            stores.my.push_back(std::move(stored));
        }
        if (CERT_IsCACert(cert, nullptr)) {
            auto& target = isTrustedAnchor(cert) ? roots : intermediates;
            target.emplace_back(DigitalSignatureUtilNSS::nameToText(cert->subject),
                                DigitalSignatureUtilNSS::nameToText(cert->issuer));
        }
        return true;
    });
    if (!fromDatabase) {
        stores.readError = unreadableCertificates();
    }
    std::map<std::string, std::string> known;
    for (auto* list : {&roots, &intermediates}) {
        for (auto& [subject, issuer] : *list) {
            known[subject] = std::move(issuer);
        }
    }
    stores.authorities.reserve(known.size());
    for (auto& [subjectText, issuerText] : known) {
        Authority authority{subjectText, DigitalSignatureUtil::parseDistinguishedName(subjectText),
                            DigitalSignatureUtil::parseDistinguishedName(issuerText), false};
        authority.selfSigned = DigitalSignatureUtil::namesEqual(authority.subject, authority.issuer);
        stores.authorities.push_back(std::move(authority));
    }
    return stores;
}

PRErrorCode NssDatabase::unreadableCertificates() {
    // NSS's listing passes over a database it cannot read as if it were empty; asking the database's own
    // token for its certificate objects tells the two apart.
    SlotPtr slot(PK11_GetInternalKeySlot());
    if (!slot) {
        return 0;
    }
    PR_SetError(0, 0);
    PK11GenericObject* objects = PK11_FindGenericObjects(slot.get(), CKO_CERTIFICATE);
    const PRErrorCode error = objects ? 0 : PR_GetError();
    if (objects) {
        PK11_DestroyGenericObjects(objects);
    }
    return error;
}

NssDatabase::KeptKey* NssDatabase::keptKey(const std::string& id) {
    auto it = keys_.find(id);
    return it == keys_.end() ? nullptr : &it->second;
}

void NssDatabase::keepKey(const std::string& id, KeptKey key) {
    keys_[id] = std::move(key);
}
