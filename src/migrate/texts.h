#ifndef VM_MIGRATE_TEXTS_H_
#define VM_MIGRATE_TEXTS_H_

#include <string>

namespace vm {

class CodePage;
struct SaveError;

// Every text the run, its steps and the start-up show, in the ANSI code
// page of the run. MakeTexts converts the built-in (UTF-8) texts once, so the
// core only ever handles ANSI bytes.
struct Texts {
  // Start button.
  std::string start_running;  // "迁移中请等待..."
  std::string start_idle;     // "开始转移"

  // Run banners and summary.
  std::string separator;  // 34 asterisks
  std::string domain_step_begin;
  std::string domain_step_end;
  std::string account_step_begin;
  std::string account_step_end;
  // The summary's head: of a run that succeeded, of one that did not, and
  // of a preview (a plan).
  std::string summary_head;
  std::string summary_head_unclean;
  std::string summary_head_preview;
  std::string summary_domains;  // "域名 " (followed by the count)
  std::string summary_users;    // "，用户数 "
  std::string summary_mails;    // "，邮件总数 " (messages copied)
  std::string summary_present;  // "，已在目标中 " (messages found there)
  // Without sync, the accounts the target held whose new mail stays
  // behind: summary_behind, the accounts, summary_behind_accounts, the
  // messages.
  std::string summary_behind;
  std::string summary_behind_accounts;
  // One such account: existing_new_mail, its name, existing_new_mail_count,
  // its messages the target lacks, mails_close.
  std::string existing_new_mail;
  std::string existing_new_mail_count;
  std::string mails_close;
  // A sync's line: the listed count, then sync_unchanged, the unchanged
  // count, sync_unchanged_folders, their folders and sync_unchanged_tail.
  std::string sync_listed;
  std::string sync_listed_preview;
  std::string sync_unchanged;
  std::string sync_unchanged_folders;
  std::string sync_unchanged_tail;
  // Followed by the reason: the record of what the sync saw was not saved.
  std::string sync_record_unsaved;
  // Followed by the reason: an undo left everything as it was, since the
  // record could let a later sync skip what it would change.
  std::string sync_record_unremoved;
  std::string success_installed;
  std::string success_temporary;
  // The end of a preview: nothing was written.
  std::string preview_done;

  // Source lists.
  std::string domain_ini_missing;
  std::string popusers_ini_missing;
  std::string domain_ini_unreadable;
  std::string popusers_ini_unreadable;
  std::string bad_password_text;
  std::string name_too_long;     // followed by the account's name
  std::string name_has_nul;      // followed by the name
  std::string name_has_control;  // followed by the name

  // Domain step.
  std::string importing_domain;  // followed by the name
  std::string domain_failed;

  // Account step.
  std::string importing_account;  // followed by the display name
  std::string syncing_account;    // followed by the display name (--sync)
  std::string account_failed;
  std::string mailbox_not_created;  // followed by the display name
  // Followed by the display name: another program added the account
  // between this run's check and its save.
  std::string account_added_by_other;
  // A mirror pass (followed by the display name): a password that
  // followed the source; one that could not be saved; between begin and
  // end, an account whose item the target changed since the tool wrote
  // it, so its password stays; an account, or a domain, the tool added
  // that the source lists no longer name.
  std::string password_followed;
  std::string password_not_saved;
  std::string password_changed_begin;
  std::string password_changed_end;
  std::string gone_account;
  std::string gone_domain;
  // Followed by the display name and, in brackets, the user whose mail the
  // run put into the same target mailbox.
  std::string shared_mailbox;
  std::string domain_list_unreadable;
  // A grouped save that failed, for each account or domain it held: the
  // text, the display name or domain, and in why_open / why_close why
  // (SaveErrorWords).
  std::string account_not_saved;
  std::string domain_not_saved;

  // Mailbox step. Folder lines start with nine blanks.
  std::string folder_indent;
  std::string standard_in_progress[4];  // inbox, sent, drafts, trash
  // A folder's word in its end line: indent + "收件箱", or (after indent +
  // folder name) "文件夹".
  std::string standard_done[4];
  std::string user_folder_in_progress;  // after indent + folder name
  std::string user_folder_done;
  // The end line of a folder: word + folder_done (+ " N") + "!" when every
  // copy worked; else word + folder_copied + N + folder_failed + M +
  // folder_messages.
  std::string folder_done;                 // "转移成功"
  std::string folder_copied;               // "复制 "
  std::string folder_failed;               // " 封，失败 "
  std::string folder_messages;             // " 封"
  std::string unsafe_folder_name;          // after indent; followed by the name
  std::string unsafe_mailbox_name;         // followed by the user name
  std::string mailbox_dir_failed;          // followed by the path
  std::string mailbox_name_unconvertible;  // followed by the path
  std::string target_differs;  // after indent; followed by "<from> -> <to>"
  std::string folder_list_unreadable;  // after indent; followed by the path
  std::string index_unreadable;        // after indent; followed by the path
  std::string copy_failed;             // after indent; followed by the path
  std::string folder_unlistable;       // after indent; followed by the path
  std::string copies_failed;           // followed by the number
  std::string accounts_left_out;       // followed by the number
  // One line per account a run leaves out, followed by the display name:
  // its domain is no line of domain.ini, or the target holds its domain
  // only as an alias.
  std::string left_out_no_domain_line;
  std::string left_out_alias_domain;

  // A run ended early by a stop request.
  std::string accounts_stopped;  // followed by the number
  std::string account_stopped;   // the reason of an account not reached
  std::string run_stopped;
  std::string verify_stopped;

  // Verification (--verify, --verify-only).
  std::string verify_begin;
  std::string verify_end;
  std::string verify_account_failed;  // followed by the display name
  // After indent; followed by "<source file> -> <target file>".
  std::string verify_missing;
  std::string verify_different;
  std::string verify_unreadable;         // after indent; followed by the path
  std::string verify_account_absent;     // after indent; the display name
  std::string verify_mailbox_absent;     // after indent; followed by the path
  std::string verify_config_unreadable;  // followed by the file name
  std::string verify_checked;            // followed by the number
  std::string verify_passed;             // message of a clean --verify-only

  // Waiting for a configuration file's lock; followed by the file name and
  // the lock.
  std::string lock_waiting;
  std::string lock_given_up;

  // Start-up.
  std::string source_not_found;
  std::string target_not_found;
  std::string no_temporary_folder;
  std::string pick_output_folder;  // the folder dialog's title
  std::string target_too_old;
  // What an installed target lacks; each followed by the path.
  std::string target_dir_missing;
  std::string target_data_missing;
  std::string system_config_missing;
  std::string system_config_unreadable;
  // Folders that would have the run write into the source.
  std::string target_in_source;
  std::string mail_store_overlaps_source;

  // A console run ended by Ctrl-C or a signal.
  std::string run_interrupted;

  // Domain step: a domain name that cannot be part of a mailbox directory
  // is not added; followed by the name.
  std::string unsafe_domain_name;
  // Why a message file was not copied (in brackets after its path), and
  // why a file operation failed: one text per FileErrorKind, in its order
  // (the first, any other error, followed by the system's number).
  std::string why_open;   // "（"
  std::string why_close;  // "）"
  std::string why_folder_not_made;
  std::string why_name_not_in_code_page;
  std::string why_unsafe_name;
  std::string why_copy_temporary_name;
  std::string why_kind[12];
  // Why a configuration file could not be saved, besides a failed write
  // (one of why_kind).
  std::string why_lock_timeout;
  std::string why_config_unreadable;
  std::string why_config_unmergeable;
  std::string why_config_not_loaded;
  std::string why_record_unwritten;  // the manifest could not be written
  // The target's run lock. The holder is told as run_lock_host + host +
  // run_lock_pid + process id + run_lock_since + start time + one of the
  // front ends (run_lock_holder_unknown when its text is missing).
  std::string run_lock_busy;            // followed by the holder
  std::string run_lock_busy_reader;     // only previews or checks hold it
  std::string run_lock_waiting;         // followed by the holder
  std::string run_lock_wait_limit;      // after the holder; then the seconds
  std::string run_lock_gave_up;         // followed by the holder
  std::string run_lock_ask_wait;        // the dialog's question, after busy
  std::string run_lock_failed;          // followed by the reason
  std::string run_lock_reader_without;  // followed by the reason
  std::string target_unsafe;            // followed by the reason
  std::string run_lock_host;
  std::string run_lock_pid;
  std::string run_lock_since;
  std::string run_lock_console;
  std::string run_lock_dialog;
  std::string run_lock_holder_unknown;
  std::string run_lock_readers;  // the holders when only previews hold it
  // The dialog's question before a migration writes into an installed
  // target: confirm_target and its folder, the last preview's counts
  // (confirm_plan and the counts) or confirm_no_plan, then confirm_ask.
  std::string confirm_target;
  std::string confirm_plan;
  std::string confirm_no_plan;
  std::string confirm_ask;
  // The same question before a run that copies new mail (confirm_sync_*),
  // and in place of confirm_no_plan when a migration ran since the window's
  // last preview.
  std::string confirm_sync_target;
  std::string confirm_sync_ask;
  std::string confirm_stale_plan;

  // The outcomes' words in the dialog's plan.
  std::string plan_added;
  std::string plan_resumed;
  std::string plan_synced;
  std::string plan_exists;
  std::string plan_alias;
  std::string plan_refused;
  std::string plan_failed;
  std::string plan_no_domain_line;
  std::string plan_alias_domain;
  std::string plan_no_domain;
  std::string plan_absent;
  std::string plan_unfinished;
  // The report's reason of an outcome the steps gave no line for.
  std::string reason_exists;
  std::string reason_alias;
  std::string reason_refused;
  std::string reason_failed;
  std::string reason_no_domain_line;
  std::string reason_alias_domain;
  std::string reason_no_domain;
  std::string reason_absent;
  std::string reason_domain_exists;
  std::string reason_domain_alias;

  // A writing run whose manifest (the record an undo works from) could
  // not be written.
  std::string manifest_unwritten;
  // Undoing a run: one line per thing its manifest lists, the outcome
  // followed by the path, the domain or "user@domain"; a kept one then
  // has its reason in why_open / why_close.
  std::string undo_begin;
  std::string undo_removed;
  std::string undo_gone;
  // A thing the run was about to make (written ahead) and never made.
  std::string undo_never_made;
  std::string undo_kept;
  // Undoing a password a mirror pass rewrote (followed by "user@domain"):
  // the old one put back (a preview: would be); nothing to put back (the
  // pass never got to it, or the account or its old password is there
  // already).
  std::string undo_password_restored;
  std::string undo_password_would_restore;
  std::string undo_password_never_made;
  std::string undo_password_unneeded;
  // Why a password record is not undone: its items differ in more than
  // the password field, which no pass writes.
  std::string undo_password_record_refused;
  // The same two outcomes in a preview, which removes nothing.
  std::string undo_would_remove;
  std::string undo_would_keep;
  std::string undo_not_reached;
  std::string undo_file_changed;
  std::string undo_file_unreadable;
  std::string undo_not_empty;
  std::string undo_mailbox_kept;
  // An account kept whole with its mailbox and the mail the run copied
  // into it: followed by why_open, the reason, why_close.
  std::string undo_account_kept_whole;
  std::string undo_mail_arrived;  // mail not the run's is in its mailbox
  std::string undo_box_found;     // the server made the mailbox meanwhile
  std::string undo_unconfirmed;   // a file or folder a killed run left
                                  // unproved: it may not be the run's
  // A --codepage other than the manifest's: followed by the option's code
  // page, undo_codepage_manifest and the manifest's.
  std::string undo_codepage_differs;
  std::string undo_codepage_manifest;
  std::string undo_item_changed;
  std::string undo_item_not_found;
  std::string undo_save_failed;
  std::string undo_domain_in_use;
  std::string undo_remove_failed;
  std::string undo_outside_target;
  std::string undo_complete;
  std::string undo_incomplete;  // followed by the number kept
  std::string undo_preview_done;

  // A mirror: a folder's line after its done line, "<folder>移走 3 封
  // （源中已删除）", and for the files it leaves "<folder>保留 2 封...";
  // a file it could not move (followed by the path); an account whose
  // source mailbox is gone (followed by the user); the preview's line
  // (messages, then bytes); an undo's file put back, or kept because
  // something is at its place now.
  std::string mirror_removed;       // "移走 "
  std::string mirror_removed_tail;  // " 封（源中已删除）"
  std::string mirror_kept;          // "保留 "
  std::string mirror_kept_tail;
  std::string mirror_hold_failed;
  std::string mirror_no_source_box;
  std::string mirror_preview;  // followed by messages, mirror_preview_bytes
  std::string mirror_preview_bytes;
  std::string undo_put_back;
  std::string undo_would_put_back;
  std::string undo_place_taken;
  std::string undo_held_outside;
  std::string undo_held_missing;
  std::string undo_put_back_failed;
  std::string undo_in_place;  // a held file found where it was
  // Why an undo did not start (messages); nothing was removed.
  std::string undo_manifest_unreadable;  // followed by the path
  std::string undo_manifest_damaged;     // followed by the line number
  std::string undo_manifest_version;
  std::string undo_other_target;  // followed by the manifest's target
  // An undo of a run undone already (its result line, followed by when).
  std::string undo_done_already;
  // A copy of the run's manifest the undo could not mark as undone (a
  // result line, followed by the path and the reason).
  std::string undo_copy_unmarked;
  // An undo stopped by an interrupt (a message).
  std::string undo_interrupted;
  // The dialog's undo: the question after the preview (followed by the
  // counts of the preview, then undo_confirm_ask), the end message of an
  // undo stopped, the progress of its preview and of its removals (each
  // followed by "N/M"), and the pieces of a
  // line of the choice of runs (each followed by its count).
  std::string undo_confirm;
  std::string undo_confirm_removed;
  std::string undo_confirm_kept;
  std::string undo_confirm_ask;
  std::string undo_stopped;
  std::string undo_close_ask;  // closing the dialog during an undo
  std::string undo_stopping;   // the status while a stopped undo ends
  std::string undo_listing;    // the status while the runs are read
  std::string undo_previewing;
  std::string undo_progress;
  std::string undo_choice_domains;
  std::string undo_choice_accounts;
  std::string undo_choice_folders;
  std::string undo_choice_files;
  std::string undo_choice_unreadable;  // a manifest that does not read

  // The session's texts. A line is built as its texts say, with the
  // counts, names and sizes between them.
  std::string config_lock_unusable;  // a message; followed by the reason
  std::string log_saved;             // followed by the run log's path
  // Followed by the count, then existing_complete, or existing_behind, the
  // accounts lacking mail, existing_behind_mails, their messages,
  // existing_behind_tail and the front end's way to copy them
  // (sync_hint_dialog, sync_hint_console).
  std::string existing_accounts;
  std::string existing_complete;
  std::string existing_behind;
  std::string existing_behind_mails;
  std::string existing_behind_tail;
  std::string sync_hint_dialog;
  std::string sync_hint_console;
  std::string no_record_folder;
  // The end message: of a preview (after preview_done, a line of counts
  // and sizes), of a stopped run, of a run not clean, and its tail lines.
  std::string end_preview_domains;
  std::string end_preview_accounts;
  std::string end_preview_mails;
  std::string end_preview_size;
  std::string end_preview_size_close;
  std::string end_free;
  std::string end_period;
  std::string end_no_space;
  std::string no_space_tail;  // also the plan's
  std::string end_stopped;
  std::string end_verify_failed;
  std::string end_unclean;
  std::string end_will_fail;
  std::string end_will_fail_left_out;
  std::string end_see_list;
  std::string end_failures;
  std::string end_failed_copies;
  std::string end_failed_copies_left_out;
  std::string end_log;
  std::string end_report;
  std::string end_record_failed;
  // The preview's plan block.
  std::string plan_head;
  std::string plan_domains_to_add;  // each followed by the count
  std::string plan_domains_present;
  std::string plan_alias_mark;
  std::string plan_domains_failing;
  std::string plan_accounts;
  std::string plan_mails;  // then the count, plan_mails_size, the bytes
  std::string plan_mails_size;
  std::string plan_bytes;
  std::string plan_comma;  // then the count, plan_failing
  std::string plan_failing;
  std::string plan_total;  // then the count, plan_mails_size, the size
  std::string plan_free_unknown;
  std::string plan_free;  // followed by the size
  std::string plan_no_space;

  // The watch: a pass's line (watch_pass, its number, watch_pass_added,
  // the messages copied, watch_pass_took, the seconds, watch_seconds), the
  // status between passes (watch_unchanged_since, the time,
  // watch_unchanged_tail, then watch_last_pass, the seconds,
  // watch_seconds), and the line of a watch that was stopped.
  std::string watch_pass;
  std::string watch_pass_added;
  std::string watch_pass_took;
  std::string watch_seconds;
  std::string watch_unchanged_since;
  std::string watch_unchanged_tail;
  std::string watch_last_pass;
  std::string watch_stopped;
};

// The dialog's progress status line and its summary once a run has ended
// (see ProgressStatusText), in UTF-8: the dialog draws them as they are,
// so they never pass the code page. Pieces, put together with the counts
// between them.
struct ProgressTexts {
  std::string progress_reading;    // before the source scan has ended
  std::string progress_verifying;  // then checked/all
  std::string progress_mails_unit;
  std::string progress_accounts;    // then done/all
  std::string progress_mails;       // then done/all
  std::string progress_comma;       // then megabytes done/all
  std::string progress_would_copy;  // then megabytes (a preview)
  std::string progress_copied;      // then megabytes
  std::string progress_mb_close;
  std::string progress_per_second;  // after the rate in megabytes
  std::string progress_left;        // then the time left
  std::string progress_computing;   // the time left while unknown
  // The summary's pieces.
  std::string progress_verified_mails;  // then checked/all
  std::string progress_summary_would_copy;
  std::string progress_summary_copied;
  std::string progress_mb;
  std::string progress_checked;  // then the count checked
  std::string progress_took;     // then the time the run took
};

// The progress texts, made once.
const ProgressTexts& ProgressWords();

// Why a file operation failed, in the words of the texts (for the
// result list): `error` is a FileSystem operation's error text.
std::string FileErrorWords(const Texts& texts, const std::string& error);

// FileErrorWords followed by the platform's own words (the error text
// without its kind), for a message that names a file: e.g. the target's
// lock file or folder. `error` is converted from UTF-8 by `utf8` when
// given (a run lock's), else taken as ANSI (a FileSystem's).
std::string FileErrorMessage(const Texts& texts, const std::string& error,
                             const CodePage* utf8 = nullptr);

// Why a configuration file's save failed, in the words of the texts.
std::string SaveErrorWords(const Texts& texts, const SaveError& error);

// The texts converted to `code_page`. *all_held (when given) tells whether
// the code page holds every one of them.
Texts MakeTexts(const CodePage& code_page, bool* all_held = nullptr);

}  // namespace vm

#endif  // VM_MIGRATE_TEXTS_H_
