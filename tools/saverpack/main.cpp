// saverpack: builds screen saver installers and looks inside them.
#include <CLI/CLI.hpp>

#include <cinttypes>
#include <cstdio>

#include "tools/saverpack/build.h"
#include "tools/saverpack/codec.h"
#include "tools/saverpack/inspect.h"
#include "tools/saverpack/progress.h"
#include "tools/saverpack/sign.h"

namespace {

using namespace saverpack;
namespace fs = std::filesystem;

constexpr const char* kManifestHelp = R"(
Manifest (JSON; paths relative to the manifest; comments allowed):
  saverName          display name, also the saver's folder name (1-64 chars)
  previewMode        bitmap | movie | jpeg | quiet | none  (installerMode 1 2 8 4 0)
  preview            item 3; a movie is stored as "installer.swf"
  license, readMe    items 4 and 5 (optional)
  flashInstaller     item 2: {"file": PATH, "version": 0 (10.12) | 1 (9.124)}
  saver              item 6, the .scr program, stored as "<saverName>.scr"
  items              {"7": FILE, "9": FILE, "10": FILE}, all three required;
                     FILE may be {"file", "name", "itemType" (default 1)}
  dataFolder         its files, sub-folders included, become the data file
  dataFileName       item 8's name (default "saverdata.bin")
  compression        data files: store | implode | auto (default auto:
                     imploded when that is smaller)
  compressionRules   [{"match": "*.jpg", "compression": "store"}, ...]
  saverRecord        a 1240-byte record (default zeros); fileCount and
                     mainFileSource are always filled in
  mainFromPreview    true: entry 1 is a copy of the movie preview
  mainFileName       that entry's name (default "installer.swf")
  offerControlPanel  true | false
  implodeLibrary     item 1 (default ../win32/impborl.dll beside saverpack)
  stub               the installer stub (default ../win32/stub.exe beside saverpack)
  codePage           the Windows code page the names are stored in (default
                     1252; 1250-1258, 874, 932, 936, 949, 950): the installer
                     reads them in the code page of the machine it runs on
Any file given as a path may be {"file": PATH, "name": NAME,
"compression": store | implode | auto}; items are stored by default.

Example:
  {"saverName": "Sample Saver", "previewMode": "movie", "preview": "movie.swf",
   "license": "license.rtf", "readMe": "readme.txt", "saver": "saver.scr",
   "items": {"7": "settings.ini", "9": "help.txt", "10": "credits.txt"},
   "dataFolder": "data", "mainFromPreview": true, "offerControlPanel": true})";

fs::path toolFolder() {
  fs::path self = executablePath();
  return self.empty() ? fs::path(".") : self.parent_path();
}

int fail(const std::string& message) {
  std::fprintf(stderr, "saverpack: %s\n", message.c_str());
  return 1;
}

// Signing options as given; `certificate` empty: do not sign.
struct SignOptions {
  std::string certificate, passwordFile, timestampUrl;

  SignSettings settings() const {
    SignSettings s;
    s.certificate = pathFromUtf8(certificate);
    if (!passwordFile.empty()) s.passwordFile = pathFromUtf8(passwordFile);
    s.timestampUrl = timestampUrl;
    return s;
  }
};

void addSignOptions(CLI::App* cmd, SignOptions& o, const char* certificateOption) {
  auto* cert = cmd->add_option(certificateOption, o.certificate, "the PKCS#12 certificate (.p12, .pfx) to sign with");
  if (std::string(certificateOption) == "--cert") cert->required();
  cmd->add_option("--sign-password-file", o.passwordFile,
                  std::string("a file holding the certificate's password (else $") + kSignPasswordVariable + ")");
  cmd->add_option("--timestamp", o.timestampUrl, "an RFC 3161 timestamp server's URL (optional)");
}

int runSign(const std::string& installer, const std::string& output, const SignOptions& sign) {
  std::string error;
  fs::path in = pathFromUtf8(installer);
  fs::path out = output.empty() ? in : pathFromUtf8(output);
  if (!signInstaller(in, out, sign.settings(), error)) return fail(error);
  std::printf("saverpack: signed %s\n", displayPath(out).c_str());
  return 0;
}

int runBuild(const std::string& manifest, const std::string& output, const std::string& stub,
             const std::string& library, bool noLibrary, bool progress, const SignOptions& sign,
             std::optional<unsigned> codePage) {
  BuildSettings s;
  s.codePage = codePage;
  s.manifest = pathFromUtf8(manifest);
  s.output = pathFromUtf8(output);
  // A signed build is written beside the output first: the output appears
  // only signed.
  fs::path unsignedPath;
  if (!sign.certificate.empty()) {
    std::string name(1, '.');
    name += s.output.filename().string();
    name += ".unsigned.tmp";
    unsignedPath = s.output.parent_path() / name;
    s.output = unsignedPath;
  }
  if (!stub.empty()) s.stub = pathFromUtf8(stub);
  if (!library.empty()) s.library = pathFromUtf8(library);
  s.noLibrary = noLibrary;
  s.toolFolder = toolFolder();
  TerminalProgress bar(progress || stderrIsTerminal());
  s.progress = bar.callback();
  s.warning = [&bar](const std::string& w) {
    bar.finish();
    std::fprintf(stderr, "saverpack: warning: %s\n", w.c_str());
  };
  BuildReport report;
  std::string error;
  bool ok = buildInstaller(s, report, error);
  bar.finish();
  if (ok && !unsignedPath.empty()) {
    ok = signInstaller(unsignedPath, pathFromUtf8(output), sign.settings(), error);
    std::error_code ec;
    fs::remove(unsignedPath, ec);
    if (ok) report.installerSize = regularFileSize(pathFromUtf8(output));
  }
  if (!ok) return fail(error);
  std::size_t imploded = 0, copies = 0;
  for (const BuiltMember& m : report.members) {
    imploded += m.imploded;
    copies += m.copy;
  }
  std::printf("saverpack: wrote %s (%" PRIu64 " bytes; %zu data file entries: %zu imploded, %zu stored, %zu copied)\n",
              output.c_str(), report.installerSize, report.members.size(), imploded,
              report.members.size() - imploded - copies, copies);
  return 0;
}

int runInspect(const std::string& file, unsigned codePage) {
  if (!isKnownCodePage(codePage)) {
    std::fprintf(stderr, "saverpack: --code-page %u is not a Windows ANSI code page the packager knows\n", codePage);
    return 2;
  }
  InspectReport r = inspectInstaller(pathFromUtf8(file), codePage);
  for (const std::string& l : r.lines) std::printf("%s\n", l.c_str());
  std::fflush(stdout);
  for (const std::string& p : r.problems) std::fprintf(stderr, "saverpack: %s: %s\n", file.c_str(), p.c_str());
  return r.problems.empty() ? 0 : 1;
}

int runImplode(const std::string& in, const std::string& out, const std::string& mode, const std::string& dict,
               bool progress) {
  ImplodeLiteralMode m = mode == "binary" ? ImplodeLiteralMode::Binary
                         : mode == "ascii" ? ImplodeLiteralMode::Ascii
                                           : ImplodeLiteralMode::Auto;
  ImplodeDictionary d = dict == "1024" ? ImplodeDictionary::Size1024
                        : dict == "2048" ? ImplodeDictionary::Size2048
                        : dict == "4096" ? ImplodeDictionary::Size4096
                                         : ImplodeDictionary::Auto;
  TerminalProgress bar(progress || stderrIsTerminal());
  CodecReport report;
  std::string error;
  bool ok = implodeFile(pathFromUtf8(in), pathFromUtf8(out), m, d, bar.callback(), report, error);
  bar.finish();
  if (!ok) return fail(error);
  std::printf("saverpack: %s: %" PRIu64 " -> %" PRIu64 " bytes\n", out.c_str(), report.inputSize, report.outputSize);
  return 0;
}

int runExplode(const std::string& in, const std::string& out) {
  CodecReport report;
  std::string error;
  if (!explodeFile(pathFromUtf8(in), pathFromUtf8(out), report, error)) return fail(error);
  std::printf("saverpack: %s: %" PRIu64 " -> %" PRIu64 " bytes\n", out.c_str(), report.inputSize, report.outputSize);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"saverpack: builds screen saver installers (stub + package) and checks them."};
  app.require_subcommand(1);
  app.footer("Run 'saverpack COMMAND --help' for a command's options.");

  std::string manifest, output, stub, library, file, in, out, mode = "auto", dict = "auto";
  bool noLibrary = false, progress = false;
  std::optional<unsigned> buildCodePage;
  unsigned inspectCodePage = kDefaultNameCodePage;

  CLI::App* build = app.add_subcommand("build", "Build an installer from a manifest.");
  build->add_option("MANIFEST", manifest, "the manifest (JSON)")->required();
  build->add_option("-o,--output", output, "the installer to write (replaced only when the build succeeds)")->required();
  build->add_option("--stub", stub, "the installer stub (691200 bytes); overrides the manifest's");
  auto* lib = build->add_option("--library", library, "the implode library for item 1; overrides the manifest's");
  build->add_flag("--no-library", noLibrary, "store a placeholder as item 1 (the installer has its own decoder)")
      ->excludes(lib);
  build->add_flag("--progress", progress, "show progress even when standard error is not a terminal");
  SignOptions signOptions;
  addSignOptions(build, signOptions, "--sign");
  build->add_option("--code-page", buildCodePage, "the code page of the stored names; overrides the manifest's codePage");
  build->footer(kManifestHelp);

  CLI::App* sign = app.add_subcommand("sign", "Sign an installer (Authenticode, through osslsigncode).");
  sign->add_option("INSTALLER", file, "the installer; signed in place unless --output is given")->required();
  sign->add_option("-o,--output", output, "write the signed installer here instead");
  addSignOptions(sign, signOptions, "--cert");
  sign->footer("An existing signature is replaced. The integrity trailer stays valid.");

  CLI::App* inspect = app.add_subcommand(
      "inspect", "Describe and check an installer (exit 1, one line per problem).");
  inspect->footer("Checks every offset and size, decodes every compressed item and imploded member and compares "
                  "its length,\nverifies the integrity trailer and shows the signature, and applies the installer's own package "
                  "checks.");
  inspect->add_option("FILE", file, "the installer")->required();
  inspect->add_option("--code-page", inspectCodePage, "the code page to read the stored names in (default 1252)");

  CLI::App* implode = app.add_subcommand("implode", "Compress a file into the implode format.");
  implode->add_option("IN", in, "input file")->required();
  implode->add_option("OUT", out, "output file")->required();
  implode->add_option("--mode", mode, "literal coding: binary, ascii or auto (smallest)")
      ->check(CLI::IsMember({"binary", "ascii", "auto"}));
  implode->add_option("--dict", dict, "dictionary size: 1024, 2048, 4096 or auto (smallest)")
      ->check(CLI::IsMember({"1024", "2048", "4096", "auto"}));
  implode->add_flag("--progress", progress, "show progress even when standard error is not a terminal");

  CLI::App* explode = app.add_subcommand("explode", "Expand an implode-format file.");
  explode->add_option("IN", in, "input file")->required();
  explode->add_option("OUT", out, "output file")->required();

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int rc = app.exit(e);
    return rc == 0 ? 0 : 2;
  }
  if (*build) return runBuild(manifest, output, stub, library, noLibrary, progress, signOptions, buildCodePage);
  if (*sign) return runSign(file, output, signOptions);
  if (*inspect) return runInspect(file, inspectCodePage);
  if (*implode) return runImplode(in, out, mode, dict, progress);
  return runExplode(in, out);
}
