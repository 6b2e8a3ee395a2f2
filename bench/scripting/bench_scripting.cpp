// Costs of the scripting core: copying variants (inline and heap values), converting text to int,
// a script-style call through JSAPIAuto::invoke against calling the member function directly, and
// what a page's property read and method call cost below the browser adapter.

#include <memory>
#include <string>

#include <benchmark/benchmark.h>

#include "scripting/JSAPIAuto.h"
#include "scripting/variant.h"

namespace {

class Api : public FB::JSAPIAuto {
  public:
    Api() {
        addMethod("concat", FB::bindMethod(this, &Api::concat));
        addMethod("echo", FB::bindMethod(this, &Api::echo));
        addProperty("version", FB::bindProperty(this, &Api::version));
        // As many members as the signing API registers, so that lookups search tables of its size.
        for (const char* name : {"a1", "b2", "c3", "d4", "e5", "f6"}) {
            addMethod(name, FB::bindMethod(this, &Api::version));
            std::string property = name;
            property += 'p';
            addProperty(property, FB::bindProperty(this, &Api::version));
        }
    }

    [[gnu::noinline]] std::string concat(const std::string& a, const std::string& b) { return a + b; }
    [[gnu::noinline]] FB::variant echo(const FB::variant& message) { return message; }
    [[gnu::noinline]] std::string version() { return "1.1.0.0"; }
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

// A page reading a property: what the browser adapter asks for it.
void readProperty(benchmark::State& state) {
    auto api = std::make_shared<Api>();
    const std::string name = "version";
    for (auto _ : state) {
        FB::variant value = api->memberValue(name);
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(readProperty);

// A page calling a method it read as a value: the method object, then the call through it.
void callMethodObject(benchmark::State& state) {
    auto api = std::make_shared<Api>();
    const std::string name = "echo";
    const std::string unnamed;
    const FB::VariantList args{std::string("ping")};
    for (auto _ : state) {
        FB::JSAPIPtr method = api->memberValue(name).get<FB::JSAPIPtr>();
        FB::variant result = method->invoke(unnamed, args);
        benchmark::DoNotOptimize(result);
    }
}
BENCHMARK(callMethodObject);

}  // namespace

BENCHMARK_MAIN();
