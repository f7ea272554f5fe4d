#include "migrate/new_user.h"

namespace vm {

UserRecord MakeUser(const SourceAccount& account, const DomainRecord& d) {
  UserRecord user;
  user.name = account.user_name;
  user.domain = account.domain;
  user.password = account.password;
  user.publicinfo = d.publicuserinfo;
  user.mailquota = d.maxmailboxquota;
  user.mailtotallimit = d.maxmailboxmailnum;
  user.netstorequota = d.netstorequota;
  user.netstoretotallimit = d.netstoretotallimit;
  user.warninglimit = d.defaultwarninglimit;
  user.sendcontrol = d.sendcontrol;
  user.recvcontrol = d.recvcontrol;
  user.senddomainlist = d.senddomainlist;
  user.recvdomainlist = d.recvdomainlist;
  user.pop3control = d.pop3control;
  user.imapcontrol = d.imapcontrol;
  user.webmailcontrol = d.webmailcontrol;
  user.netstorecontrol = d.netstorecontrol;
  user.calendarcontrol = d.calendarcontrol;
  user.notebookcontrol = d.notebookcontrol;
  user.modifyuserinfo = d.modifyuserinfo;
  user.externalpop3 = d.externalpop3;
  user.autoforward = d.autoforward;
  user.autoreply = d.autoreply;
  user.spamcontrol = d.spamcontrol;
  user.publiccontact = d.publiccontact;
  user.smsnotify = d.smsnotify;
  user.sendsms = d.sendsms;
  user.sendmaxmsgsize = d.sendmaxmsgsize;
  user.sendfreq = d.sendfreq;
  user.localtimes = d.localtimes;
  user.localsize = d.localsize;
  user.remotetimes = d.remotetimes;
  user.remotesize = d.remotesize;
  user.chgpassword = d.chgpassword;
  user.pwdexpiredays = d.pwdexpiredays;
  user.expiretime = d.expiretime;
  return user;
}

}  // namespace vm
