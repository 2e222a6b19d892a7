// libquarvel_cli_commands.so: quarvel-cli's commands behind one entry point.
#include "cli/invocation.h"
#include "platform/gdi/heap_tuning.h"

extern "C" __attribute__((visibility("default"))) int quarvel_cli_run(quarvel::cli::Invocation* call,
                                                                      std::size_t size) {
  if (size != sizeof(quarvel::cli::Invocation)) return quarvel::cli::kEntryMismatch;
  quarvel::gdi::KeepFrameBuffersInHeap();
  return quarvel::cli::RunInvocation(*call);
}
