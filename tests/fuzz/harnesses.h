// Fuzz harnesses for every reader of outside data: the package header, the
// saver data file, the implode decoder and encoder, the SWF header checks,
// the Flash version text, the zlib inflate stream, the name rules, the PE
// header and certificate table of signed installers, and the install
// journal.
//
// Each harness takes one input of any size and any content and returns 0
// (libFuzzer's convention).  Besides "no crash, no leak, no undefined
// behaviour" (the sanitizers' part), each checks properties that must hold
// for every input, e.g. that a package passing validation has every item
// inside the file, or that a stream gives the same bytes whatever the block
// sizes.  A broken property goes to the failure handler: by default it
// prints the message and aborts, which libFuzzer reports as a crash; the
// corpus replay test installs one that throws FuzzFailure instead.
//
// tests/fuzz/<harness>.cpp hold the libFuzzer entry points; the same
// functions run the committed corpora in tests/native/fuzz_corpus_test.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

int fuzzPackageHeader(const std::uint8_t* data, std::size_t size);
int fuzzDataFile(const std::uint8_t* data, std::size_t size);
int fuzzExplode(const std::uint8_t* data, std::size_t size);
int fuzzImplodeRoundtrip(const std::uint8_t* data, std::size_t size);
int fuzzSwfReader(const std::uint8_t* data, std::size_t size);
int fuzzFlashVersion(const std::uint8_t* data, std::size_t size);
int fuzzInflateStream(const std::uint8_t* data, std::size_t size);
int fuzzNames(const std::uint8_t* data, std::size_t size);
int fuzzPeSigning(const std::uint8_t* data, std::size_t size);
int fuzzInstallJournal(const std::uint8_t* data, std::size_t size);

struct FuzzHarness {
  const char* name;  // also the corpus folder name under tests/fuzz/corpus
  int (*run)(const std::uint8_t* data, std::size_t size);
};

// Every harness, in a fixed order.
std::span<const FuzzHarness> fuzzHarnesses();

// Thrown by a handler that wants failures as exceptions.  Not derived from
// std::exception, so no catch in the code under test can swallow it.
struct FuzzFailure {
  std::string message;
};

using FuzzFailureHandler = void (*)(const char* message);
// nullptr restores the default (print to stderr, then abort).
void setFuzzFailureHandler(FuzzFailureHandler handler);

// Reports a broken property; the handler must not return (abort or throw).
[[noreturn]] void fuzzFail(const char* message);
