// The "CaSubjectNames" parameter as a page writes it: a list of names split at "|" and parsed into
// normalized attribute maps. Every parsed key and value must be in normalized form and free of the
// separators, and every parsed member must be found in its own list. On Unix, where the run's stores are
// empty, the engine must hand the same list back from the expansion and list nothing.
#include <cstddef>
#include <cstdint>
#include <string>

#include "EngineHome.h"
#include "FuzzInput.h"
#include "signature/DigitalSignatureUtil.h"

namespace {

bool normalized(const std::string& text) {
    return DigitalSignatureUtil::normalizeText(text) == text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    const std::string text = in.rest();

    const NameAttributesList list = DigitalSignatureUtil::parseNameList(text);
    std::size_t pieces = 1;
    for (char c : text) {
        pieces += c == '|';
    }
    FUZZ_CHECK(list.size() <= pieces);
    for (const NameAttributes& name : list) {
        FUZZ_CHECK(!name.empty());
        for (const auto& [key, value] : name) {
            FUZZ_CHECK(normalized(key) && normalized(value));
            FUZZ_CHECK(key.find_first_of("=,|") == std::string::npos);
            FUZZ_CHECK(value.find_first_of("=,|") == std::string::npos);
        }
        FUZZ_CHECK(DigitalSignatureUtil::issuerInList(list, name));
    }
    // Normalizing twice changes nothing.
    const std::string once = DigitalSignatureUtil::normalizeText(text);
    FUZZ_CHECK(normalized(once));

#ifndef _WIN32
    useEmptyHome();
    static const auto engine = DigitalSignatureUtil::create();
    FUZZ_CHECK(engine->expandCaSubjectNames(text) == list);
    FUZZ_CHECK(engine->getLastError() == 0);
    FUZZ_CHECK(engine->getDigitalSignatureCertificates(text).empty());
    FUZZ_CHECK(engine->getLastError() == 0);
#endif
    return 0;
}
