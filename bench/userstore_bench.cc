// Adds users one by one to an empty userauth.cfg on disk, as the account
// step does, and reports how the cost of an addition grows with the file.
//
//   userstore_bench [users=20000] [directory=a new temporary directory]
//
// Every addition saves the whole file, so the time per user grows with the
// file; everything else (the existence checks) must not. The last line
// compares the last thousand additions with plain replaces of the final
// file, the floor any whole-file save has to pay.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "config/shared_config_states.h"
#include "config/target_context.h"
#include "config/user_store.h"
#include "platform/clock.h"
#include "platform/file_system.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
  int users = argc > 1 ? std::atoi(argv[1]) : 20000;
  if (users < 2000) users = 2000;
  std::filesystem::path dir;
  bool remove_dir = argc <= 2;
  if (argc > 2) {
    dir = argv[2];
  } else {
    std::random_device random;
    dir = std::filesystem::temp_directory_path() /
          ("vm_userstore_bench_" + std::to_string(random()));
  }
  std::filesystem::create_directories(dir);

  std::unique_ptr<vm::FileSystem> fs = vm::NewDiskFileSystem();
  vm::SharedConfigStates states;
  vm::TargetContext context;
  context.fs = fs.get();
  context.states = &states;
  context.clock = vm::SystemClock();
  context.target_dir = dir.string();
  context.primary_domain = "example.com";
  const std::string path = context.target_dir + "\\userauth.cfg";
  if (!fs->WriteFile(path,
                     "<database>\r\n<user>\r\n</user>\r\n<useralias>\r\n"
                     "</useralias>\r\n</database>",
                     nullptr)) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return 1;
  }

  vm::UserStore store(&context);
  uint64_t bytes_written = 0;
  Clock::duration first_thousand{}, last_thousand{};
  Clock::time_point start = Clock::now();
  for (int i = 0; i < users; ++i) {
    vm::UserRecord user;
    user.name = "user" + std::to_string(i);
    user.domain =
        i % 3 == 0 ? "example.com" : "other" + std::to_string(i % 7) + ".org";
    user.password = "{md5}0123456789abcdef0123456789abcdef";
    user.mailquota = 20971520;
    user.mailtotallimit = 10000;
    user.netstorequota = 104857600;
    user.netstoretotallimit = 1000;
    user.warninglimit = 80;
    Clock::time_point t = Clock::now();
    if (store.AddUser(user) != vm::AddUserResult::kAdded) {
      std::fprintf(stderr, "adding user %d failed\n", i);
      return 1;
    }
    Clock::duration d = Clock::now() - t;
    if (i < 1000) first_thousand += d;
    if (i >= users - 1000) last_thousand += d;
    bytes_written += store.document().DocumentText().size();
  }
  double total = Seconds(Clock::now() - start);

  // The floor: replacing the final file, unchanged, a thousand times.
  const std::string& final_text = store.document().DocumentText();
  Clock::time_point t = Clock::now();
  for (int i = 0; i < 1000; ++i) {
    if (!fs->ReplaceContents(path, final_text, nullptr)) return 1;
  }
  double plain = Seconds(Clock::now() - t);

  std::printf("users added:              %d\n", users);
  std::printf("total time:               %.2f s\n", total);
  // A thousand additions in seconds is one addition in milliseconds.
  std::printf("per user, first 1000:     %.3f ms\n", Seconds(first_thousand));
  std::printf("per user, last 1000:      %.3f ms\n", Seconds(last_thousand));
  std::printf("bytes written:            %llu (final file %zu)\n",
              static_cast<unsigned long long>(bytes_written),
              final_text.size());
  std::printf(
      "plain replace, final file: %.3f ms each; last 1000 / plain = %.2f\n",
      plain, Seconds(last_thousand) / plain);
  if (remove_dir) std::filesystem::remove_all(dir);
  return 0;
}
