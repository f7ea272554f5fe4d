#include "migrate/texts.h"

#include "platform/code_page.h"

namespace vm {

namespace {

// Converts a text of the program to the run's code page, and notes in
// `all_held` when one does not survive the trip back.
class Ansi {
 public:
  Ansi(const CodePage& code_page, bool* all_held)
      : code_page_(code_page), all_held_(all_held) {}
  std::string operator()(const char* utf8) const {
    std::string ansi = code_page_.ToAnsi(utf8);
    if (all_held_ != nullptr && code_page_.ToUtf8(ansi) != utf8) {
      *all_held_ = false;
    }
    return ansi;
  }

 private:
  const CodePage& code_page_;
  bool* all_held_;
};

// The run's steps, its summary and its last words.
void AddRunStepTexts(const Ansi& a, Texts* texts) {
  Texts& t = *texts;
  t.start_running = a("迁移中请等待...");
  t.start_idle = a("开始转移");

  t.separator = std::string(34, '*');
  t.domain_step_begin = a("域名转移开始");
  t.domain_step_end = a("域名转移结束");
  t.account_step_begin = a("邮箱用户转移开始");
  t.account_step_end = a("邮箱用户转移结束");
  t.summary_head = a("本次成功迁移:");
  t.summary_head_unclean = a("本次迁移结果（未全部成功）:");
  t.summary_head_preview = a("预计迁移:");
  t.summary_domains = a("域名 ");
  t.summary_users = a("，用户数 ");
  t.summary_mails = a("，邮件总数 ");
  t.summary_present = a("，已在目标中 ");
  t.summary_behind = a("有新邮件未复制的已有帐户数 ");
  t.summary_behind_accounts = a("，未复制的邮件数 ");
  t.existing_new_mail = a("已有帐户的新邮件未复制:");
  t.existing_new_mail_count = a("，");
  t.mails_close = a(" 封");
  t.sync_listed = a("同步列出的已有邮箱数:");
  t.sync_listed_preview = a("同步将列出的已有邮箱数:");
  t.sync_unchanged = a("，自上次同步未变化而跳过的邮箱数:");
  t.sync_unchanged_folders = a("（");
  t.sync_unchanged_tail = a(" 个文件夹）");
  t.sync_record_unsaved = a("同步记录未能保存，下次同步将列出所有邮箱：");
  t.sync_record_unremoved = a("同步记录未能删除，未撤销任何内容：");
  t.success_installed = a("Velquor => Tarnwick 转移成功！");
  t.success_temporary =
      a("Velquor => Tarnwick 转移成功！\n请将临时目录中创建的域名/帐户 "
        "数据文件和邮件存储目录拷贝到 Tarnwick 系统安装目录下。");
  t.preview_done = a("预览完成，未写入任何文件。");
}

// Reading the source lists and adding domains and accounts.
void AddSourceListTexts(const Ansi& a, Texts* texts) {
  Texts& t = *texts;
  t.domain_ini_missing = a("没有找到domain.ini文件");
  t.popusers_ini_missing = a("没有找到popusers.ini文件");
  t.domain_ini_unreadable = a("无法读取domain.ini文件");
  t.popusers_ini_unreadable = a("无法读取popusers.ini文件");
  t.bad_password_text = a("密码不能为空且不能超过20个字符！");
  t.name_too_long = a("用户名或域名超过64字节，该帐户未导入:");
  t.name_has_nul = a("名称含有空字符，未导入:");
  t.name_has_control = a("名称含有控制字符，未导入:");

  t.importing_domain = a("导入域名:");
  t.domain_failed = a("该域名转移失败!");

  t.importing_account = a("导入帐户:");
  t.syncing_account = a("同步帐户:");
  t.account_failed = a("该账户导入失败或者userauth.cfg文件读取错误！");
  t.mailbox_not_created = a("无法创建邮箱目录，该帐户未导入:");
  t.shared_mailbox = a("与另一帐户共用同一目标邮箱，邮件未转移:");
  t.domain_list_unreadable = a("读取域信息出错！");
  t.account_not_saved = a("该帐户未能保存到userauth.cfg:");
  t.domain_not_saved = a("该域名未能保存到domain.cfg:");
  t.account_added_by_other = a("该帐户已由其他程序添加，本次未导入:");
  t.password_followed = a("已同步源中修改的密码:");
  t.password_not_saved = a("修改的密码未能保存到userauth.cfg:");
  t.password_changed_begin = a("帐户 ");
  t.password_changed_end = a(" 的密码在目标中已被修改，未同步");
  t.gone_account = a("源中已不存在的帐户:");
  t.gone_domain = a("源中已不存在的域名:");
}

// Copying mailboxes and what a copy can meet.
void AddMailboxTexts(const Ansi& a, Texts* texts) {
  Texts& t = *texts;
  t.folder_indent = std::string(9, ' ');
  const char* in_progress[4] = {"收件箱转移进行中...", "发件箱转移进行中...",
                                "草稿箱转移进行中...", "垃圾箱转移进行中..."};
  const char* done[4] = {"收件箱", "发件箱", "草稿箱", "垃圾箱"};
  for (int i = 0; i < 4; ++i) {
    t.standard_in_progress[i] = t.folder_indent + a(in_progress[i]);
    t.standard_done[i] = t.folder_indent + a(done[i]);
  }
  t.user_folder_in_progress = a("转移进行中...");
  t.user_folder_done = a("文件夹");
  t.folder_done = a("转移成功");
  t.folder_copied = a("复制 ");
  t.folder_failed = a(" 封，失败 ");
  t.folder_messages = a(" 封");
  t.unsafe_folder_name = a("文件夹名称不能用作目录，未转移:");
  t.unsafe_mailbox_name = a("用户名不能用作邮箱目录，邮件未转移:");
  t.mailbox_dir_failed = a("无法创建邮箱目录，邮件未转移:");
  t.mailbox_name_unconvertible =
      a("邮箱目录名不能用当前代码页表示，其中邮件未转移:");
  t.target_differs = a("目标中已有该邮件的另一版本，未覆盖:");
  t.folder_list_unreadable = a("无法读取自建文件夹列表，其中邮件未转移:");
  t.index_unreadable = a("无法读取索引文件，邮件按原名转移:");
  t.copy_failed = a("邮件复制失败:");
  t.folder_unlistable = a("无法读取邮件文件夹，其中邮件未转移:");
  t.copies_failed = a("复制失败的邮件数:");
  t.accounts_left_out = a("未迁移的帐户数:");
  t.left_out_no_domain_line = a("该帐户的域名不在domain.ini中，未迁移:");
  t.left_out_alias_domain = a("目标中该帐户的域名只是别名域，未迁移:");
}

// Stopping, verifying, and finding the source and the target.
void AddVerifyAndSetupTexts(const Ansi& a, Texts* texts) {
  Texts& t = *texts;
  t.accounts_stopped = a("因停止而未处理的帐户数:");
  t.account_stopped = a("迁移已停止，该帐户尚未处理");
  t.run_stopped =
      a("迁移已停止：已完成的帐户和邮件都已保存，再次开始即可继续迁移。");
  t.verify_stopped = a("校验已停止，尚未校验完所有邮件。");

  t.verify_begin = a("邮件校验开始");
  t.verify_end = a("邮件校验结束");
  t.verify_account_failed = a("校验未通过的帐户:");
  t.verify_missing = a("目标中缺少该邮件:");
  t.verify_different = a("目标中的邮件与源邮件不同:");
  t.verify_unreadable = a("无法读取，未校验:");
  t.verify_account_absent = a("目标中没有该帐户:");
  t.verify_mailbox_absent = a("目标中没有该帐户的邮箱目录:");
  t.verify_config_unreadable = a("无法读取目标配置文件，无法校验:");
  t.verify_checked = a("校验的邮件数:");
  t.verify_passed = a("校验通过，所有邮件都已在目标中。");

  t.lock_waiting = a("正在等待其他程序释放配置文件锁:");
  t.lock_given_up = a("等待配置文件锁超时，未能读写该文件:");

  t.source_not_found = a("本机没有检测到 Velquor 软件，无法实现转移！");
  t.target_not_found =
      a("本机没有检测到 Tarnwick "
        "软件，您可以选择一个文件夹保存迁移数据。\n注意：迁移生成的数据只能应"
        "用于 Tarnwick4.9 以上版本");
  t.no_temporary_folder = a("您未设定临时保存文件夹，无法实现转移！");
  t.pick_output_folder = a("请选择保存迁移数据的文件夹");
  t.target_too_old = a("本机安装的 Tarnwick 版本太低，请升级！");
  t.target_dir_missing = a("没有找到 Tarnwick 安装目录:");
  t.target_data_missing = a("没有找到 Tarnwick 数据目录:");
  t.system_config_missing = a("没有找到 Tarnwick 配置文件:");
  t.system_config_unreadable = a("无法读取 Tarnwick 配置文件:");
  t.target_in_source = a("目标文件夹位于 Velquor 安装目录之内，无法实现转移！");
  t.mail_store_overlaps_source =
      a("Tarnwick 邮件存储目录与 Velquor 安装目录重叠，无法实现转移！");

  t.run_interrupted =
      a("转移已中断。已完成的部分和配置文件均已保存，再次运行即可继续转移。");
}

// Why a step failed.
void AddFailureTexts(const Ansi& a, Texts* texts) {
  Texts& t = *texts;
  t.unsafe_domain_name = a("域名不能用作邮箱目录，该域名未导入:");
  t.why_open = a("（");
  t.why_close = a("）");
  t.why_folder_not_made = a("目标文件夹无法创建");
  t.why_name_not_in_code_page = a("文件名不能用当前代码页表示");
  t.why_unsafe_name = a("文件名不安全，不能使用");
  t.why_copy_temporary_name = a("文件名是复制中途的临时文件名");
  const char* kinds[12] = {"系统错误",
                           "磁盘空间不足",
                           "没有访问权限",
                           "只读，不能写入",
                           "文件或文件夹不存在",
                           "路径或名称过长",
                           "不是普通文件",
                           "是符号链接，未跟随",
                           "超过文件大小限制",
                           "复制期间源文件被改动",
                           "打开的文件数已达系统或进程的上限",
                           "运行清单无法先行写入，未创建"};
  for (int i = 0; i < 12; ++i) t.why_kind[i] = a(kinds[i]);
  t.why_lock_timeout = a("等待配置文件锁超时");
  t.why_config_unreadable = a("配置文件无法读取，不能确认其他程序未改动它:");
  t.why_config_unmergeable = a("配置文件已被其他程序改动，无法合并");
  t.why_config_not_loaded = a("配置文件未能读取");
  t.why_record_unwritten = a("运行清单无法先行写入，未保存:");
}

// The run lock and who holds it.
void AddRunLockTexts(const Ansi& a, Texts* texts) {
  Texts& t = *texts;
  t.run_lock_busy = a("目标正由另一次运行使用，请等它结束后再运行。使用者:");
  t.run_lock_busy_reader =
      a("目标正由一次预览或校验使用，请等它结束后再运行。");
  t.run_lock_waiting = a("目标正由另一次运行使用，正在等待它结束。使用者:");
  t.run_lock_wait_limit = a("；最多等待秒数:");
  t.run_lock_gave_up = a("等待另一次运行结束超时，未开始。使用者:");
  t.run_lock_ask_wait = a("要等它结束后自动开始吗？等待期间可以点击“停止”。");
  t.run_lock_failed = a("无法使用目标的运行锁，未开始:");
  t.target_unsafe = a("目标的文件夹不能安全打开（链接不会被跟随），未开始:");
  t.run_lock_reader_without =
      a("无法使用目标的运行锁，本次只读取，不加锁继续:");
  t.run_lock_host = a("主机 ");
  t.run_lock_pid = a("，进程 ");
  t.run_lock_since = a("，开始于 ");
  t.run_lock_console = a("，命令行程序");
  t.run_lock_dialog = a("，迁移对话框程序");
  t.run_lock_holder_unknown = a("（未知，它可能刚刚开始）");
  t.run_lock_readers = a("预览或校验（不写入目标的运行）");
}

// The preview's plan and the confirmation before a run.
void AddPlanTexts(const Ansi& a, Texts* texts) {
  Texts& t = *texts;
  t.plan_added = a("添加");
  t.plan_resumed = a("完成上次中断的迁移");
  t.plan_synced = a("同步新邮件");
  t.plan_exists = a("已存在，跳过");
  t.plan_alias = a("已有同名别名，跳过");
  t.plan_refused = a("不能迁移");
  t.plan_failed = a("将失败");
  t.plan_no_domain_line = a("不迁移：其域名不在domain.ini中");
  t.plan_alias_domain = a("不迁移：目标中其域名只是别名域");
  t.plan_no_domain = a("不迁移：目标中没有其域名");
  t.plan_absent = a("目标中没有");
  t.plan_unfinished = a("已停止，未处理");
  t.reason_exists = a("目标中已有该帐户，未改动");
  t.reason_alias = a("目标中已有同名的别名，未迁移");
  t.reason_refused = a("名称不能使用，未迁移");
  t.reason_failed = a("该帐户未能迁移");
  t.reason_no_domain_line = a("该帐户的域名不在domain.ini中，未迁移");
  t.reason_alias_domain = a("目标中该帐户的域名只是别名域，未迁移");
  t.reason_no_domain = a("目标中没有该帐户的域名，未迁移");
  t.reason_absent = a("目标中没有该帐户");
  t.reason_domain_exists = a("目标中已有该域名");
  t.reason_domain_alias = a("目标中该名称是别名域");
  t.confirm_target =
      a("即将迁移到已安装的 Tarnwick，写入它的配置文件和邮件存储:");
  t.confirm_plan = a("最近一次预览的计划:");
  t.confirm_no_plan =
      a("还没有预览。可以先点击“预览”，查看将迁移的帐户和邮件数。");
  t.confirm_ask = a("要开始迁移吗？");
  t.confirm_sync_target =
      a("即将把源中新到的邮件复制到目标中已有的帐户（目标中还没有的帐户照常迁移"
        "），写入已安装的 Tarnwick 的配置文件和邮件存储:");
  t.confirm_sync_ask = a("要开始复制新邮件吗？");
  t.confirm_stale_plan =
      a("最近一次预览之后已运行过迁移，预览的计划已过时。可以再次点击“预览”，"
        "查看现在将迁移的帐户和邮件数。");
}

// What a mirror takes out, and its undo puts back.
void AddMirrorTexts(const Ansi& a, Texts* texts) {
  Texts& t = *texts;
  t.mirror_removed = a("移走 ");
  t.mirror_removed_tail = a(" 封（源中已删除）");
  t.mirror_kept = a("保留 ");
  t.mirror_kept_tail = a(" 封（源中已删除，但不是本工具复制的原样）");
  t.mirror_hold_failed = a("无法移到暂存文件夹，已保留:");
  t.mirror_no_source_box = a("源中已没有该帐户的邮箱，未移走任何邮件:");
  t.mirror_preview = a("同步删除和移动将移走的邮件: ");
  t.mirror_preview_bytes = a(" 封，字节数: ");
  t.undo_put_back = a("已放回:");
  t.undo_would_put_back = a("将放回:");
  t.undo_place_taken = a("原位置已有文件，未放回");
  t.undo_held_outside = a("暂存位置不在该次运行的暂存文件夹之内");
  t.undo_held_missing = a("暂存文件夹中已没有该文件");
  t.undo_put_back_failed = a("无法放回");
  t.undo_in_place = a("已在原位置，无需放回:");
}

// Undoing a run.
void AddUndoTexts(const Ansi& a, Texts* texts) {
  Texts& t = *texts;
  t.manifest_unwritten = a("运行清单无法写入，本次运行不能完整撤销");
  t.undo_begin = a("撤销运行，运行清单:");
  t.undo_removed = a("已删除:");
  t.undo_gone = a("已不存在，无需删除:");
  t.undo_never_made = a("运行中断前未创建，无需删除:");
  t.undo_kept = a("已保留:");
  t.undo_password_restored = a("已恢复原密码:");
  t.undo_password_would_restore = a("将恢复原密码:");
  t.undo_password_never_made = a("运行中断前未修改密码，无需恢复:");
  t.undo_password_unneeded = a("帐户已不存在或已是原密码，无需恢复:");
  t.undo_password_record_refused =
      a("运行清单中的该记录不只是修改密码，不能据此恢复");
  t.undo_would_remove = a("将删除:");
  t.undo_would_keep = a("将保留:");
  t.undo_not_reached = a("撤销已停止，未处理:");
  t.undo_file_changed = a("运行后大小或内容已改变");
  t.undo_file_unreadable = a("无法读取，不能确认未被改动");
  t.undo_not_empty = a("其中有本次运行之外的邮件或文件");
  t.undo_mailbox_kept = a("邮箱中有运行后到达的邮件，帐户与邮箱一并保留");
  t.undo_account_kept_whole = a("帐户与邮箱及其中迁移的邮件一并保留:");
  t.undo_mail_arrived = a("邮箱中有不是该次运行复制的邮件或文件");
  t.undo_box_found = a("邮箱是运行期间由其他程序建立的");
  t.undo_unconfirmed =
      a("运行在记录其校验信息前中断，不能确认是该次运行创建的");
  t.undo_codepage_differs =
      a("指定的代码页与运行清单的不同，未删除任何内容。指定的代码页:");
  t.undo_codepage_manifest = a("，运行清单的代码页:");
  t.undo_item_changed = a("运行后该项已被改动");
  t.undo_item_not_found = a("配置文件中无法找到该项");
  t.undo_save_failed = a("配置文件无法保存");
  t.undo_domain_in_use = a("该域名下仍有保留的帐户");
  t.undo_remove_failed = a("无法删除");
  t.undo_outside_target = a("不在目标之内，未删除");
  t.undo_complete = a("撤销完成：该次运行添加的内容已全部删除");
  t.undo_incomplete = a("撤销未完成，保留的项目数:");
  t.undo_preview_done = a("预览完成，未删除任何内容");
  t.undo_manifest_unreadable = a("无法读取运行清单，未删除任何内容:");
  t.undo_manifest_damaged = a("运行清单已损坏，未删除任何内容。出错的行:");
  t.undo_manifest_version =
      a("运行清单的格式版本不受本程序支持，未删除任何内容");
  t.undo_other_target =
      a("运行清单属于另一个目标，未删除任何内容。清单的目标:");
  t.undo_done_already = a("该次运行已撤销过，本次未删除任何内容。撤销时间:");
  t.undo_copy_unmarked = a("该次运行的另一份运行清单未能标记为已撤销:");
  t.undo_interrupted =
      a("撤销已中断。已删除和未处理的项目见结果列表，再次运行同样的命令即可完成"
        "撤销。");
  t.undo_confirm = a("即将撤销所选的运行，结果列表中是撤销前的预览。");
  t.undo_confirm_removed = a("将删除的项目:");
  t.undo_confirm_kept = a("将保留的项目:");
  t.undo_confirm_ask = a("是否撤销？");
  t.undo_stopped =
      a("撤销已停止。已删除和未处理的项目见结果列表，再次撤销同一次运行即可"
        "完成撤销。");
  t.undo_close_ask =
      a("正在撤销。要停止并关闭窗口吗？\n已删除的项目保持删除，再次撤销同一次"
        "运行即可完成撤销。");
  t.undo_listing = a("正在读取运行清单...");
  t.undo_stopping = a("正在停止撤销：等待进行中的删除完成...");
  t.undo_previewing = a("正在预览撤销（不删除任何内容），已处理的项目:");
  t.undo_progress = a("正在撤销，已处理的项目:");
  t.undo_choice_domains = a("域名:");
  t.undo_choice_accounts = a("帐户:");
  t.undo_choice_folders = a("文件夹:");
  t.undo_choice_files = a("邮件文件:");
  t.undo_choice_unreadable = a("（无法读取的运行清单）");
}

// The session's end box and records.
void AddSessionTexts(const Ansi& a, Texts* texts) {
  Texts& t = *texts;
  t.config_lock_unusable = a("无法使用配置文件锁，未开始：");
  t.log_saved = a("运行记录已保存:");
  t.existing_accounts = a("目标中已存在的帐户数:");
  t.existing_complete = a("，其源中的邮件都已在目标中");
  t.existing_behind = a("，其中有新邮件未复制的帐户 ");
  t.existing_behind_mails = a(" 个、邮件 ");
  t.existing_behind_tail = a(" 封；");
  t.sync_hint_dialog = a("勾选“只复制新邮件”后再次开始即可复制");
  t.sync_hint_console = a("加上 --sync 再次运行即可复制");
  t.no_record_folder = a("没有可写入的记录文件夹");
  t.end_preview_domains = a("将添加域名 ");
  t.end_preview_accounts = a(" 个、帐户 ");
  t.end_preview_mails = a(" 个，复制邮件 ");
  t.end_preview_size = a(" 封（");
  t.end_preview_size_close = a("）。");
  t.end_free = a("目标邮件存储所在磁盘可用 ");
  t.end_period = a("。");
  t.end_no_space = a("警告：磁盘空间不足，请再腾出 ");
  t.no_space_tail = a(" 后再迁移！");
  t.end_stopped =
      a("迁移已停止。已完成的帐户和邮件都已保存，再次点击“开始转移”即可继续"
        "迁移。");
  t.end_verify_failed = a("校验未通过。");
  t.end_unclean = a("迁移已结束，但未全部成功。");
  t.end_will_fail = a("迁移时将失败 ");
  t.end_will_fail_left_out = a(" 项，未迁移的帐户 ");
  t.end_see_list = a(" 个，详见结果列表。");
  t.end_failures = a("失败 ");
  t.end_failed_copies = a(" 项（其中复制失败的邮件 ");
  t.end_failed_copies_left_out = a(" 封），未迁移的帐户 ");
  t.end_log = a("运行记录：");
  t.end_report = a("报告：");
  t.end_record_failed = a("无法保存运行记录：");
}

// The preview's plan as the session writes it.
void AddLogTexts(const Ansi& a, Texts* texts) {
  Texts& t = *texts;
  t.plan_head = a("预览计划（未写入任何文件）");
  t.plan_domains_to_add = a("将添加的域名数:");
  t.plan_domains_present = a("已存在的域名数:");
  t.plan_alias_mark = a("（别名域）");
  t.plan_domains_failing = a("将失败的域名数:");
  t.plan_accounts = a("帐户数:");
  t.plan_mails = a("，复制邮件 ");
  t.plan_mails_size = a(" 封，");
  t.plan_bytes = a(" 字节");
  t.plan_comma = a("，");
  t.plan_failing = a(" 封将失败");
  t.plan_total = a("需复制的邮件:");
  t.plan_free_unknown = a("目标邮件存储所在磁盘的可用空间:未知");
  t.plan_free = a("目标邮件存储所在磁盘的可用空间:");
  t.plan_no_space = a("警告：目标磁盘空间不足，请再腾出 ");
}

// The watch's pass lines and status.
void AddWatchTexts(const Ansi& a, Texts* texts) {
  Texts& t = *texts;
  t.watch_pass = a("第 ");
  t.watch_pass_added = a(" 次同步：新增 ");
  t.watch_pass_took = a(" 封，用时 ");
  t.watch_seconds = a(" 秒");
  t.watch_unchanged_since = a("源自 ");
  t.watch_unchanged_tail = a(" 起没有变化");
  t.watch_last_pass = a("，上次同步用时 ");
  t.watch_stopped =
      a("持续同步已停止：停止之后又做了一次同步，停止前到达的邮件都已复制。");
}

}  // namespace

Texts MakeTexts(const CodePage& code_page, bool* all_held) {
  if (all_held != nullptr) *all_held = true;
  const Ansi a(code_page, all_held);
  Texts t;
  AddRunStepTexts(a, &t);
  AddSourceListTexts(a, &t);
  AddMailboxTexts(a, &t);
  AddVerifyAndSetupTexts(a, &t);
  AddFailureTexts(a, &t);
  AddRunLockTexts(a, &t);
  AddPlanTexts(a, &t);
  AddUndoTexts(a, &t);
  AddMirrorTexts(a, &t);
  AddSessionTexts(a, &t);
  AddLogTexts(a, &t);
  AddWatchTexts(a, &t);
  return t;
}

namespace {

ProgressTexts MakeProgressTexts() {
  // Kept in UTF-8, as the dialog draws them.
  auto a = [](const char* utf8) { return std::string(utf8); };
  ProgressTexts t;
  t.progress_reading = a("正在读取源列表并统计邮件...");
  t.progress_verifying = a("正在校验邮件：已校验 ");
  t.progress_mails_unit = a(" 封");
  t.progress_accounts = a("帐户 ");
  t.progress_mails = a("，邮件 ");
  t.progress_comma = a("，");
  t.progress_would_copy = a(" MB（预计复制 ");
  t.progress_copied = a(" MB（已复制 ");
  t.progress_mb_close = a(" MB），");
  t.progress_per_second = a(" MB/秒，");
  t.progress_left = a("剩余 ");
  t.progress_computing = a("计算中");
  t.progress_verified_mails = a("，已校验邮件 ");
  t.progress_summary_would_copy = a("，预计复制 ");
  t.progress_summary_copied = a("，已复制 ");
  t.progress_mb = a(" MB");
  t.progress_checked = a("，已校验 ");
  t.progress_took = a("，用时 ");
  return t;
}

}  // namespace

const ProgressTexts& ProgressWords() {
  static const ProgressTexts texts = MakeProgressTexts();
  return texts;
}

}  // namespace vm
