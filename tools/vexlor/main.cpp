// vexlor: encrypts files and folders into ".vxl" containers and back, from the command line.
// It runs the same walk as the file manager's commands, with the job's rule that three
// failures over the selection stop the run.
#include <cstdio>
#include <cstring>

#include "console.h"
#include "console_reporter.h"
#include "container.h"
#include "file_system.h"
#include "keystream.h"
#include "measure.h"
#include "password.h"
#include "settings_record.h"
#include "walker.h"
#include "watched_file_system.h"

namespace vexlor {

namespace {

constexpr int kExitDone = 0;
constexpr int kExitFilesFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;
constexpr int kJobFailureLimit = 3;

constexpr char kHelp[] =
    "Usage: vexlor encrypt [--compress] [--password-file FILE] PATH...\n"
    "       vexlor decrypt [--password-file FILE] PATH...\n"
    "       vexlor --help\n"
    "\n"
    "Encrypts every file at or below each PATH into a container named after it with\n"
    "the extension's dot turned into '_' and \".vxl\" added (report.txt becomes\n"
    "report_txt.vxl), or decrypts containers back to the plain files. The file\n"
    "converted from is deleted. Files that already are containers are left alone by\n"
    "encrypt, and files that are not are left alone by decrypt.\n"
    "\n"
    "Options:\n"
    "  --compress            compress the contents before enciphering them\n"
    "  --password-file FILE  take the password from the first line of FILE instead of\n"
    "                        asking for it (encrypt asks twice, to verify it)\n"
    "  --help                show this text\n"
    "\n"
    "Passwords have at most 99 characters; the empty password is valid. A file that\n"
    "cannot be converted is reported on stderr; after three such failures the run\n"
    "stops with \"too many errors, stop\". A file that cannot be opened, or whose\n"
    "converted form cannot be created, is reported and left as it is without\n"
    "counting towards the three. When stderr is a terminal a progress bar\n"
    "shows the bytes done. Ctrl+C stops after the file in progress is finished.\n"
    "\n"
    "The cipher is a fast keystream scramble, compatible with existing \".vxl\" files;\n"
    "it does not protect against a determined attacker.\n"
    "\n"
    "Exit status: 0 when every file was converted or left alone, 1 when a file\n"
    "failed or could not be opened, 2 for a usage error, 130 when interrupted.\n";

struct CommandLine {
  int direction = Encrypt;
  bool compress = false;
  const char* passwordFile = nullptr;
  char** paths = nullptr;
  int pathCount = 0;
};

int UsageError(const char* problem, const char* detail) {
  fprintf(stderr, "vexlor: %s%s\nTry 'vexlor --help'.\n", problem, detail);
  return kExitUsage;
}

// Returns -1 when the command line is sound, otherwise the exit status to end with.
int ParseCommandLine(int argc, char** argv, CommandLine* command) {
  if (argc >= 2 && strcmp(argv[1], "--help") == 0) {
    fputs(kHelp, stdout);
    return kExitDone;
  }
  if (argc < 2) return UsageError("no command given", "");
  if (strcmp(argv[1], "encrypt") == 0) {
    command->direction = Encrypt;
  } else if (strcmp(argv[1], "decrypt") == 0) {
    command->direction = Decrypt;
  } else {
    return UsageError("unknown command ", argv[1]);
  }
  int at = 2;
  for (; at < argc && strncmp(argv[at], "--", 2) == 0; ++at) {
    const char* option = argv[at];
    if (strcmp(option, "--") == 0) {
      ++at;
      break;
    }
    if (strcmp(option, "--help") == 0) {
      fputs(kHelp, stdout);
      return kExitDone;
    }
    if (strcmp(option, "--compress") == 0 && command->direction == Encrypt) {
      command->compress = true;
    } else if (strcmp(option, "--password-file") == 0) {
      if (at + 1 >= argc) return UsageError("--password-file needs a file name", "");
      command->passwordFile = argv[++at];
    } else {
      return UsageError("unknown option ", option);
    }
  }
  if (at >= argc) return UsageError("no PATH given", "");
  command->paths = argv + at;
  command->pathCount = argc - at;
  return -1;
}

// Refuses the whole run before anything is touched when a path does not exist.
bool AllPathsExist(const CommandLine& command) {
  bool allFound = true;
  for (int i = 0; i < command.pathCount; ++i) {
    uint32_t attributes = 0;
    if (!CurrentFileSystem().ReadAttributes(command.paths[i], &attributes)) {
      fprintf(stderr, "vexlor: cannot find %s\n", command.paths[i]);
      allFound = false;
    }
  }
  return allFound;
}

int RunJob(const CommandLine& command, PasswordKey key) {
  ConsoleReporter reporter;
  uint64_t bytesTotal = 0;
  for (int i = 0; i < command.pathCount; ++i) bytesTotal += MeasurePath(command.paths[i], command.direction);
  reporter.Start(bytesTotal, ErrorOutputIsTerminal());
  UseReporter(&reporter);
  WatchedFileSystem files(PlatformFileSystem(), reporter);
  UseFileSystem(&files);
  CatchInterrupt();

  int failures = 0;
  bool interrupted = false;
  for (int i = 0; i < command.pathCount; ++i) {
    int result = WalkPath(command.paths[i], key, command.direction);
    if (result == WalkCancelled || InterruptRequested()) {
      interrupted = true;
      break;
    }
    failures += result;
    if (failures >= kJobFailureLimit) {
      reporter.ShowMessage("too many errors, stop");
      break;
    }
  }
  reporter.Stop();
  UseFileSystem(nullptr);
  UseReporter(nullptr);
  if (interrupted) {
    fputs("vexlor: interrupted; the file in progress was finished\n", stderr);
    return kExitInterrupted;
  }
  return failures == 0 && files.openFailures == 0 ? kExitDone : kExitFilesFailed;
}

int Run(int argc, char** argv) {
  CommandLine command;
  int parsed = ParseCommandLine(argc, argv, &command);
  if (parsed >= 0) return parsed;
  if (!AllPathsExist(command)) return kExitUsage;

  char password[kPasswordBufferSize];
  bool havePassword = command.passwordFile != nullptr
                          ? ReadPasswordFile(command.passwordFile, password)
                          : PromptPassword(command.direction == Encrypt, password);
  if (!havePassword) return kExitUsage;
  PasswordKey key = DerivePasswordKey(password);
  memset(password, 0, sizeof password);

  g_settings.needCompression = command.compress ? 1 : 0;
  return RunJob(command, key);
}

}  // namespace

}  // namespace vexlor

int main(int argc, char** argv) { return vexlor::Run(argc, argv); }
