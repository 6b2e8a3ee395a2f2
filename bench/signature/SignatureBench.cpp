// Engine benchmarks. Listing runs against the large database of make-bench-db (KORVANE_BENCH_DB=DIR),
// signing against the test PKI of tests/fixtures/make-pki (KORVANE_PKI_DIR=DIR); run-bench sets both.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <cert.h>
#include <nss.h>
#include <pk11pub.h>

#include "signature/Base64.h"
#include "signature/platform/nss/DigitalSignatureUtilNSS.h"

namespace {

std::string envDir(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

// The store directory named by the variable, with HOME pointed at its NSS database; empty (and the
// benchmark marked skipped) when the variable is not set.
std::string useStore(benchmark::State& state, const char* variable) {
    std::string dir = envDir(variable);
    if (dir.empty()) {
        state.SkipWithError((std::string(variable) + " not set").c_str());
        return dir;
    }
    setenv("HOME", (dir + "/home").c_str(), 1);
    return dir;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::size_t countListed(const std::string& listing) {
    if (listing.empty()) {
        return 0;
    }
    std::size_t bars = 0;
    for (char c : listing) {
        bars += c == '|';
    }
    return (bars + 1) / 3;
}

const char* kBenchRoot = "C=ES, O=Bench, CN=Bench Root CA";

// Every user certificate of the database qualifies (KORVANE_BENCH_USERS of them, 1,000 by default);
// anything else means the database is not the one make-bench-db builds, or the listing is broken.
bool listsEveryUser(benchmark::State& state, DigitalSignatureUtil& engine) {
    const std::string users = envDir("KORVANE_BENCH_USERS");
    const std::size_t expected = users.empty() ? 1000 : std::stoul(users);
    const std::size_t listed = countListed(engine.getDigitalSignatureCertificates(kBenchRoot));
    if (listed != expected) {
        state.SkipWithError(
            ("listed " + std::to_string(listed) + " of " + std::to_string(expected) + " user certificates")
                .c_str());
        return false;
    }
    return true;
}

// A second listing by the same engine, what a page sees when it lists again.
void BM_ListCertificates(benchmark::State& state) {
    if (useStore(state, "KORVANE_BENCH_DB").empty()) {
        return;
    }
    DigitalSignatureUtilNSS engine;
    if (!listsEveryUser(state, engine)) {
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(engine.getDigitalSignatureCertificates(kBenchRoot));
    }
}
BENCHMARK(BM_ListCertificates)->Unit(benchmark::kMillisecond)->MinTime(3);

// The first listing of a new engine while another engine of the process has listed: what a new page sees.
void BM_ListCertificatesNewEngine(benchmark::State& state) {
    if (useStore(state, "KORVANE_BENCH_DB").empty()) {
        return;
    }
    DigitalSignatureUtilNSS firstPage;
    if (!listsEveryUser(state, firstPage)) {
        return;
    }
    for (auto _ : state) {
        DigitalSignatureUtilNSS engine;
        benchmark::DoNotOptimize(engine.getDigitalSignatureCertificates(kBenchRoot));
    }
}
BENCHMARK(BM_ListCertificatesNewEngine)->Unit(benchmark::kMillisecond)->MinTime(3);

// The first listing in a process: NSS opens the database and walks it, the engine loads its stores.
void BM_ListCertificatesFirstInProcess(benchmark::State& state) {
    if (useStore(state, "KORVANE_BENCH_DB").empty()) {
        return;
    }
    DigitalSignatureUtil::releaseSharedState();
    for (auto _ : state) {
        DigitalSignatureUtilNSS engine;
        benchmark::DoNotOptimize(engine.getDigitalSignatureCertificates(kBenchRoot));
        state.PauseTiming();
        DigitalSignatureUtil::releaseSharedState();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ListCertificatesFirstInProcess)->Unit(benchmark::kMillisecond)->MinTime(1);

// NSS alone doing what the first listing makes it do: open the database, make every certificate object
// (PK11_ListCerts), release them and close. The first listing's time less this is the engine's own.
void BM_NssWalkFirstInProcess(benchmark::State& state) {
    const std::string dir = useStore(state, "KORVANE_BENCH_DB");
    if (dir.empty()) {
        return;
    }
    DigitalSignatureUtil::releaseSharedState();
    const std::string configDir = "sql:" + dir + "/home/.pki/nssdb";
    for (auto _ : state) {
        ContextPtr context(NSS_InitContext(configDir.c_str(), "", "", "secmod.db", nullptr,
                                           NSS_INIT_READONLY | NSS_INIT_NOROOTINIT));
        CertListPtr all(PK11_ListCerts(PK11CertListUnique, nullptr));
        benchmark::DoNotOptimize(all.get());
    }
}
BENCHMARK(BM_NssWalkFirstInProcess)->Unit(benchmark::kMillisecond)->MinTime(1);

void BM_ExpandCaSubjectNames(benchmark::State& state) {
    if (useStore(state, "KORVANE_BENCH_DB").empty()) {
        return;
    }
    DigitalSignatureUtilNSS engine;
    for (auto _ : state) {
        benchmark::DoNotOptimize(engine.expandCaSubjectNames(kBenchRoot));
    }
}
BENCHMARK(BM_ExpandCaSubjectNames)->Unit(benchmark::kMicrosecond)->MinTime(3);

std::string sha256Hash() {
    return Base64::encode(std::vector<std::uint8_t>(32, 0x3C));
}

void BM_SignPkcs1Rsa2048(benchmark::State& state) {
    const std::string pki = useStore(state, "KORVANE_PKI_DIR");
    if (pki.empty()) {
        return;
    }
    setenv("SOFTHSM2_CONF", (pki + "/softhsm2.conf").c_str(), 1);
    const std::string id = readFile(pki + "/certs/good.id");
    DigitalSignatureUtil::releaseSharedState();
    DigitalSignatureUtilNSS engine;
    if (engine.signPkcs1(id, sha256Hash()).empty()) {
        state.SkipWithError("signing failed");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(engine.signPkcs1(id, sha256Hash()));
    }
}
BENCHMARK(BM_SignPkcs1Rsa2048)->Unit(benchmark::kMicrosecond)->MinTime(3);

// The same key signing straight through NSS, key already found: what the engine adds per call is the
// difference (identifier parsing, store lookup, key lookup, encoding).
void BM_RawNssSignRsa2048(benchmark::State& state) {
    const std::string pki = envDir("KORVANE_PKI_DIR");
    if (pki.empty()) {
        state.SkipWithError("KORVANE_PKI_DIR not set");
        return;
    }
    // NSS on this database alone, as a program of its own would have it.
    DigitalSignatureUtil::releaseSharedState();
    const std::string configDir = "sql:" + pki + "/home/.pki/nssdb";
    ContextPtr context(NSS_InitContext(configDir.c_str(), "", "", "secmod.db", nullptr,
                                       NSS_INIT_READONLY | NSS_INIT_NOROOTINIT));
    if (!context) {
        state.SkipWithError("cannot open the fixture database");
        return;
    }
    {
        CertListPtr users(PK11_ListCerts(PK11CertListUserUnique, nullptr));
        const std::string id = readFile(pki + "/certs/good.id");
        CERTCertificate* cert = nullptr;
        forEachCertificate(users.get(), [&](CERTCertificate* c) {
            if (DigitalSignatureUtilNSS::certificateIdentifier(*c) == id) {
                cert = c;
                return false;
            }
            return true;
        });
        PrivateKeyPtr key(cert ? PK11_FindPrivateKeyFromCert(cert->slot, cert, nullptr) : nullptr);
        if (!key) {
            state.SkipWithError("no key");
        } else {
            std::vector<unsigned char> input(51, 0x3C);
            std::vector<unsigned char> out(256);
            for (auto _ : state) {
                SECItem sig{siBuffer, out.data(), static_cast<unsigned int>(out.size())};
                SECItem data{siBuffer, input.data(), static_cast<unsigned int>(input.size())};
                benchmark::DoNotOptimize(
                    PK11_SignWithMechanism(key.get(), CKM_RSA_PKCS, nullptr, &sig, &data));
            }
        }
    }
}
BENCHMARK(BM_RawNssSignRsa2048)->Unit(benchmark::kMicrosecond)->MinTime(3);

}  // namespace

BENCHMARK_MAIN();
