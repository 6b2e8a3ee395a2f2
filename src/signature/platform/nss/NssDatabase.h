#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <prerror.h>
#include <prtime.h>
#include <secmodt.h>

#include "signature/NameAttributes.h"
#include "signature/platform/nss/NssHandles.h"

// A certificate of "My" with what the listing and the lookups read from it, worked out once per load.
struct StoredCertificate {
    CertPtr cert;
    std::string issuer;  // name texts
    std::string subject;
    std::size_t issuerIndex = 0;       // into Stores::issuers
    std::vector<std::uint8_t> serial;  // least significant octet first
    std::string serialBase64;
    bool timesKnown = false;
    PRTime notBefore = 0;
    PRTime notAfter = 0;
    bool nonRepudiationKey = false;
};

// A CA certificate of "Root" or "CA" as the CA-name expansion reads it: the last one seen for a subject text,
// "Root" before "CA", in the byte-wise order of the subject texts.
struct Authority {
    std::string subjectText;
    NameAttributes subject;
    NameAttributes issuer;
    bool selfSigned = false;
};

// The three stores from one walk over the database.
struct Stores {
    std::vector<StoredCertificate> my;
    std::vector<NameAttributes> issuers;  // the distinct parsed issuers of "My"
    std::vector<Authority> authorities;   // in subject-text order
    // NSS's error when the walk could not read the database (a damaged file reads as no certificates at
    // all); such stores are not kept.
    PRErrorCode readError = 0;
};

// One user database opened by NSS, shared by the engines of the process, with what they keep between
// requests: the stores, and per identifier the software key found for it. Everything kept is dropped when
// the database files, the module list, or a token's presence, series or login state have changed since
// the last request, before anything is looked up again: NSS keeps handing out a removed certificate for
// as long as someone holds a reference to it. A database deleted or replaced, or a module list changed
// by another program, also closes NSS and opens it again on what is there now (nothing when the
// database is gone). The process keeps the last database opened after its last
// engine has gone, so that a new page's first listing finds the stores loaded; releaseKept() closes it.
class NssDatabase {
  public:
    // The database in directory, opened read-only on first need; nothing when NSS cannot open it (its
    // error is left for the caller). A different directory replaces the one the process keeps.
    static std::shared_ptr<NssDatabase> forDirectory(const std::string& directory);
    // Lets go of the database the process keeps (engines still using it keep it open).
    static void releaseKept();

    NssDatabase(const std::string& directory, ContextPtr context);
    ~NssDatabase();
    NssDatabase(const NssDatabase&) = delete;
    NssDatabase& operator=(const NssDatabase&) = delete;

    // One request's hold on the database: it takes the lock, and the outermost one drops what is kept when
    // anything changed. Requests of the same thread nest.
    class Request {
      public:
        explicit Request(NssDatabase& database);
        ~Request();
        Request(const Request&) = delete;
        Request& operator=(const Request&) = delete;
        // False when the database files were held by another program's write lock for longer than
        // a request waits, or NSS could not open them again: nothing is kept from them, and the NSS
        // error is set.
        bool readable() const;

      private:
        std::unique_lock<std::recursive_mutex> lock_;
        NssDatabase& database_;
    };

    // Within a Request.
    const Stores& stores();
    // The error of the database's token when it cannot hand out its certificate objects, else 0.
    static PRErrorCode unreadableCertificates();
    struct KeptKey {
        const StoredCertificate* certificate = nullptr;
        PrivateKeyPtr key;
        int signatureLength = 0;
    };
    KeptKey* keptKey(const std::string& id);
    void keepKey(const std::string& id, KeptKey key);
    // A kept reference failed: everything is looked up again from the database.
    void dropKept();

  private:
    struct FileState {
        bool exists = false;
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
        std::int64_t size = 0;
        std::int64_t modifiedSeconds = 0;
        std::int64_t modifiedNanoseconds = 0;
        std::uint32_t changeCounter = 0;  // SQLite's, bumped by every committed write
        bool operator==(const FileState&) const = default;
    };
    struct TokenState {
        SECMODModuleID module = 0;
        CK_SLOT_ID slot = 0;
        bool present = false;
        int series = 0;
        bool loggedIn = false;
        bool operator==(const TokenState&) const = default;
    };
    struct State {
        std::array<FileState, 3> files;
        std::vector<TokenState> tokens;
        bool operator==(const State&) const = default;
    };
    State currentState() const;
    bool refresh();
    // The database files were deleted or put in place of others, or the module list changed.
    static bool replaced(const State& before, const State& now);
    static ContextPtr openContext(const std::string& directory);
    static bool writeLocked(const std::string& file);

  public:
    // Waits a little while another program write-locks the database files; false when they stay locked.
    static bool waitUntilReadable(const std::string& directory);

  private:
    std::string directory_;
    std::recursive_mutex lock_;
    int depth_ = 0;
    State state_;
    bool stateKnown_ = false;
    bool readable_ = true;
    ContextPtr context_;  // declared before what is kept, so it closes after every reference is released;
                          // none while the database is gone
    std::unique_ptr<Stores> stores_;
    std::map<std::string, KeptKey> keys_;
};
