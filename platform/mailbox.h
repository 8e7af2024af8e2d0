// Outgoing mail as files: an RFC 5322 message (with the voice recording as a MIME attachment)
// placed in the Outbox of a mail service, a Maildir under <mail root>/<service>/Outbox/ (tmp/,
// new/, cur/). A message is written into tmp/, synced and renamed into new/, so a mail program
// that delivers the Outbox never sees half a message, and a failed write leaves the Outbox as it
// was. Messages are built and read with GMime.
#pragma once
#include <ctime>
#include <string>
#include <vector>

namespace vlm {

struct MailMessage {
  std::string from;      // the sender's address (empty: the local user at localhost)
  std::string to, cc, bcc;   // addresses separated by blanks, commas or semicolons
  std::string subject;
  std::string body;
  std::string attachmentPath;   // a file attached by value (empty: none)
  std::string attachmentName;   // its name in the message (empty: the file's own name)
  time_t date = 0;              // 0: now
};

// The addresses of a recipient text, split at blanks, commas and semicolons.
std::vector<std::string> splitAddresses(const std::string& text);

// The message as RFC 5322 text (CR LF line ends are not used: Maildir files end lines in LF).
// False with the reason in error (an attachment that cannot be read, a message without any
// recipient).
bool composeMessage(const MailMessage& message, std::string* text, std::string* error);

// Writes text as a new message into <mailRoot>/<service>/Outbox/ (folders made as needed).
// True with the message file's path; false with the reason, nothing left behind.
bool putInOutbox(const std::string& mailRoot, const std::string& service, const std::string& text, std::string* path,
                 std::string* error);

// A message read back: its headers and parts.
struct ReadMessage {
  std::string from, to, cc, subject, body;
  std::string attachmentName;
  std::string attachmentData;   // decoded bytes
  bool hasAttachment = false;
};
bool readMessageFile(const std::string& path, ReadMessage* message, std::string* error);

// A mail service found in an Outbox: the folder's name and the sending address of a message
// with the given subject (compared without regard to case). Looks through every service's
// Outbox (new/ and cur/) under mailRoot in name order, skipping "ActiveSync" and messages without
// a sender. False when none is found.
bool findServiceBySubject(const std::string& mailRoot, const std::string& subject, std::string* service,
                          std::string* id);

}  // namespace vlm
