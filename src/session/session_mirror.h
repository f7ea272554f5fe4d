#ifndef VM_SESSION_SESSION_MIRROR_H_
#define VM_SESSION_SESSION_MIRROR_H_

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "migrate/mirror_pass.h"
#include "migrate/mirror_proofs.h"
#include "migrate/password_follow.h"
#include "migrate/proof_index.h"
#include "util/name_ops.h"
#include "util/thread_annotations.h"

namespace vm {

class FileSystem;
class ManifestWriter;
struct AppState;

// The mirror of a session's sync (see mirror_pass.h), made ready: the
// proofs and the accounts the tool wrote, read from the manifests in the
// target's run records folder through their index (ProofIndex), and
// the pass with a holding folder of its own there, named after the
// session's start (`<start>.held`, `<start>-2.held`, ... when taken).
class SessionMirror {
 public:
  // `fs` is the file system the run writes through (a preview's overlay);
  // `manifest` null for a preview, which moves nothing.
  SessionMirror(FileSystem* fs, const AppState& state, const NameOps& names,
                ManifestWriter* manifest, int64_t started);
  ~SessionMirror();
  SessionMirror(const SessionMirror&) = delete;
  SessionMirror& operator=(const SessionMirror&) = delete;

  MirrorPass* pass() { return pass_.get(); }
  const RecordedAccounts* recorded() const { return &recorded_; }
  // The proofs' sizes (MirrorProofs::WrittenSize), once they are whole:
  // the first size asked waits for them.
  SizeTeller Sizes();
  // Reads the proofs again: a watch's next pass also takes out what its
  // earlier passes copied.
  ProofIndex::Use Reload();

 private:
  // Reads the proofs; the first time on a thread of its own, which the
  // pass waits for (WaitFilled) before it uses them, and which goes on to
  // write their index meanwhile.
  ProofIndex::Use Load();
  void WaitFilled();
  void WaitLoaded();

  std::string runs_dir_;
  FileId data_folder_;
  MirrorProofs proofs_;
  RecordedAccounts recorded_;
  std::unique_ptr<ProofIndex> index_;
  std::unique_ptr<MirrorPass> pass_;
  std::thread loading_;
  Mutex mutex_;
  std::condition_variable filled_cv_;
  bool filled_ GUARDED_BY(mutex_) = false;
};

}  // namespace vm

#endif  // VM_SESSION_SESSION_MIRROR_H_
