// Costs of the scripting core: copying variants (inline and heap values), converting text to int,
// and a script-style call through JSAPIAuto::invoke against calling the member function directly.

#include <memory>
#include <string>

#include <benchmark/benchmark.h>

#include "scripting/JSAPIAuto.h"
#include "scripting/variant.h"

namespace {

class Api : public FB::JSAPIAuto {
  public:
    Api() { addMethod("concat", FB::bindMethod(this, &Api::concat)); }

    [[gnu::noinline]] std::string concat(const std::string& a, const std::string& b) { return a + b; }
};

void variantCopyInline(benchmark::State& state) {
    const FB::variant source = 42L;
    for (auto _ : state) {
        FB::variant copy(source);
        benchmark::DoNotOptimize(copy);
    }
}
BENCHMARK(variantCopyInline);

void variantCopyHeap(benchmark::State& state) {
    const FB::variant source = std::string("a text too long for the small string buffer");
    for (auto _ : state) {
        FB::variant copy(source);
        benchmark::DoNotOptimize(copy);
    }
}
BENCHMARK(variantCopyHeap);

void variantCopyHeapShortText(benchmark::State& state) {
    const FB::variant source = std::string("short");
    for (auto _ : state) {
        FB::variant copy(source);
        benchmark::DoNotOptimize(copy);
    }
}
BENCHMARK(variantCopyHeapShortText);

void convertIntFromText(benchmark::State& state) {
    const FB::variant source = std::string("12345");
    for (auto _ : state) {
        int value = source.convert<int>();
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(convertIntFromText);

void invokeTwoTextMethod(benchmark::State& state) {
    auto api = std::make_shared<Api>();
    const FB::VariantList args{std::string("hello "), std::string("world")};
    const std::string name = "concat";
    for (auto _ : state) {
        FB::variant result = api->invoke(name, args);
        benchmark::DoNotOptimize(result);
    }
}
BENCHMARK(invokeTwoTextMethod);

void directTwoTextCall(benchmark::State& state) {
    auto api = std::make_shared<Api>();
    const std::string a = "hello ";
    const std::string b = "world";
    for (auto _ : state) {
        std::string result = api->concat(a, b);
        benchmark::DoNotOptimize(result);
    }
}
BENCHMARK(directTwoTextCall);

}  // namespace

BENCHMARK_MAIN();
