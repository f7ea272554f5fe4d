#include "dialog/win32/end_status.h"

namespace vm {

std::string EndStatusText(RunSession& session) {
  const SessionResult& result = session.result();
  if (!result.outcome.loaded) return "未开始";
  const SessionKind kind = session.options().kind;
  const char* word = result.outcome.stopped          ? "已停止。"
                     : kind == SessionKind::kPreview ? "预览已结束。"
                     : kind == SessionKind::kVerify  ? "校验已结束。"
                                                     : "迁移已结束。";
  std::string text = word + ProgressSummaryText(session.progress().Snapshot());
  switch (SessionVerifyLevel(session.options())) {
    case VerifyMode::kContent:
      return text + "（逐字节比较）";
    case VerifyMode::kSize:
      return text + "（按大小比较）";
    case VerifyMode::kNone:
      break;
  }
  return text;
}

}  // namespace vm
