// reg import / export, and the dispatch of the reg subcommands (query, add
// and delete are in reg_query.cc and reg_edit.cc).
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "platform/posix/admin.h"
#include "tools/reg_common.h"
#include "tools/tool.h"

namespace machine_tool {

int RunRegQuery(const Context& ctx, const Args& args);
int RunRegAdd(const Context& ctx, const Args& args);
int RunRegDelete(const Context& ctx, const Args& args);

namespace {

constexpr const char* kSuccess = "The operation completed successfully.\n";

bool ReadAll(const std::string& file, std::string* text) {
  if (file == "-") {
    text->assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    return !std::cin.bad();
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  std::ostringstream content;
  content << in.rdbuf();
  *text = content.str();
  return true;
}

int RunRegImport(const Context& ctx, const Args& args) {
  if (args.size() != 1) return Fail("'reg import' needs one .reg file (or - for standard input)");
  std::string text;
  if (!ReadAll(args[0], &text)) return Fail("cannot read " + args[0]);
  if (!OpenExistingMachine(ctx)) return kExitUsage;
  std::string error;
  // The import is one transaction: a malformed line leaves the registry as
  // it was.
  if (!emu::admin::ImportRegText(text, &error))
    return Fail((args[0] == "-" ? std::string("standard input") : args[0]) + ": " + error);
  printf("%s", kSuccess);
  return kExitOk;
}

int RunRegExport(const Context& ctx, const Args& args) {
  if (args.size() > 1) return Fail("'reg export' takes at most one key; the text goes to standard output");
  std::string path;
  if (!args.empty() && !ParseKeyArgument(args[0], &path)) return kExitUsage;
  if (!OpenExistingMachine(ctx)) return kExitUsage;
  if (!emu::admin::KeyExists(path))
    return Fail("no key HKEY_LOCAL_MACHINE\\" + path);
  std::string text, error;
  if (!emu::admin::ExportRegText(path, &text, &error)) return Fail(error);
  fwrite(text.data(), 1, text.size(), stdout);
  return kExitOk;
}

}  // namespace

int RunReg(const Context& ctx, const Args& args) {
  return RunSubcommand("reg",
                       {{"import", RunRegImport},
                        {"export", RunRegExport},
                        {"query", RunRegQuery},
                        {"add", RunRegAdd},
                        {"delete", RunRegDelete}},
                       ctx, args);
}

}  // namespace machine_tool
