// Outgoing mail as Maildir files, built and read with GMime.
#include "platform/mailbox.h"

#include <dirent.h>
#include <fcntl.h>
#include <gmime/gmime.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "foundation/safefile.h"

namespace vlm {

namespace {

void initGMime() {
  static std::once_flag once;
  std::call_once(once, [] { g_mime_init(); });
}

// Texts of the program are 8-bit (Latin-1); valid UTF-8 is kept as it is.
bool validUtf8(const std::string& s) { return g_utf8_validate(s.data(), static_cast<gssize>(s.size()), nullptr); }
std::string toUtf8(const std::string& s) {
  if (validUtf8(s)) return s;
  std::string out;
  for (unsigned char c : s) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}


bool makeFolder(const std::string& path) { return ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST; }

std::string addressesOf(InternetAddressList* list) {
  if (list == nullptr || internet_address_list_length(list) == 0) return std::string();
  char* text = internet_address_list_to_string(list, nullptr, FALSE);
  std::string s = text ? text : "";
  g_free(text);
  return s;
}

// The decoded content of a leaf part.
std::string partData(GMimePart* part) {
  GMimeDataWrapper* content = g_mime_part_get_content(part);
  if (content == nullptr) return std::string();
  GMimeStream* out = g_mime_stream_mem_new();
  g_mime_data_wrapper_write_to_stream(content, out);
  GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out));
  std::string s(reinterpret_cast<const char*>(bytes->data), bytes->len);
  g_object_unref(out);
  return s;
}

void collectParts(GMimeObject* object, ReadMessage* m) {
  if (GMIME_IS_MULTIPART(object)) {
    GMimeMultipart* multipart = GMIME_MULTIPART(object);
    for (int i = 0; i < g_mime_multipart_get_count(multipart); i++) collectParts(g_mime_multipart_get_part(multipart, i), m);
    return;
  }
  if (!GMIME_IS_PART(object)) return;
  GMimePart* part = GMIME_PART(object);
  if (g_mime_part_is_attachment(part) && !m->hasAttachment) {
    m->hasAttachment = true;
    const char* name = g_mime_part_get_filename(part);
    m->attachmentName = name ? name : "";
    m->attachmentData = partData(part);
  } else if (GMIME_IS_TEXT_PART(object) && m->body.empty()) {
    char* text = g_mime_text_part_get_text(GMIME_TEXT_PART(object));
    m->body = text ? text : "";
    g_free(text);
  }
}

bool parseMessage(const std::string& data, ReadMessage* m) {
  initGMime();
  GMimeStream* stream = g_mime_stream_mem_new_with_buffer(data.data(), data.size());
  GMimeParser* parser = g_mime_parser_new_with_stream(stream);
  GMimeMessage* message = g_mime_parser_construct_message(parser, nullptr);
  g_object_unref(parser);
  g_object_unref(stream);
  if (message == nullptr) return false;
  *m = ReadMessage();
  const char* subject = g_mime_message_get_subject(message);
  m->subject = subject ? subject : "";
  m->from = addressesOf(g_mime_message_get_from(message));
  m->to = addressesOf(g_mime_message_get_addresses(message, GMIME_ADDRESS_TYPE_TO));
  m->cc = addressesOf(g_mime_message_get_addresses(message, GMIME_ADDRESS_TYPE_CC));
  if (GMimeObject* body = g_mime_message_get_mime_part(message)) collectParts(body, m);
  g_object_unref(message);
  return true;
}

std::string uniqueName() {
  static std::atomic<unsigned> counter{0};
  char host[256] = "localhost";
  gethostname(host, sizeof host - 1);
  for (char* p = host; *p; p++)
    if (*p == '/' || *p == ':') *p = '_';
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return std::to_string(now.tv_sec) + ".M" + std::to_string(now.tv_nsec / 1000) + "P" + std::to_string(getpid()) +
         "Q" + std::to_string(++counter) + "." + host;
}

}  // namespace

std::vector<std::string> splitAddresses(const std::string& text) {
  std::vector<std::string> out;
  std::string current;
  for (char c : text) {
    if (c == ' ' || c == ',' || c == ';' || c == '\t' || c == '\r' || c == '\n') {
      if (!current.empty()) out.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) out.push_back(current);
  return out;
}

bool composeMessage(const MailMessage& in, std::string* text, std::string* error) {
  initGMime();
  const std::vector<std::string> to = splitAddresses(in.to), cc = splitAddresses(in.cc), bcc = splitAddresses(in.bcc);
  if (to.empty() && cc.empty() && bcc.empty()) {
    *error = "the message has no recipient";
    return false;
  }
  std::string attachment;
  if (!in.attachmentPath.empty() && !readRegularFile(in.attachmentPath, &attachment, error)) return false;

  GMimeMessage* message = g_mime_message_new(TRUE);
  std::string from = in.from;
  if (from.empty()) {
    const char* user = getenv("USER");
    from = std::string(user && *user ? user : "namefind") + "@localhost";
  }
  g_mime_message_add_mailbox(message, GMIME_ADDRESS_TYPE_FROM, nullptr, toUtf8(from).c_str());
  for (const std::string& a : to) g_mime_message_add_mailbox(message, GMIME_ADDRESS_TYPE_TO, nullptr, toUtf8(a).c_str());
  for (const std::string& a : cc) g_mime_message_add_mailbox(message, GMIME_ADDRESS_TYPE_CC, nullptr, toUtf8(a).c_str());
  for (const std::string& a : bcc) g_mime_message_add_mailbox(message, GMIME_ADDRESS_TYPE_BCC, nullptr, toUtf8(a).c_str());
  g_mime_message_set_subject(message, toUtf8(in.subject).c_str(), "utf-8");
  GDateTime* date = g_date_time_new_from_unix_local(in.date ? in.date : time(nullptr));
  g_mime_message_set_date(message, date);
  g_date_time_unref(date);
  g_mime_message_set_message_id(message, nullptr);

  GMimeTextPart* body = g_mime_text_part_new_with_subtype("plain");
  g_mime_text_part_set_text(body, toUtf8(in.body).c_str());
  if (in.attachmentPath.empty()) {
    g_mime_message_set_mime_part(message, GMIME_OBJECT(body));
  } else {
    GMimeMultipart* mixed = g_mime_multipart_new_with_subtype("mixed");
    g_mime_multipart_add(mixed, GMIME_OBJECT(body));
    GMimePart* part = g_mime_part_new_with_type("audio", "wav");
    std::string name = in.attachmentName;
    if (name.empty()) name = in.attachmentPath.substr(in.attachmentPath.rfind('/') + 1);
    g_mime_part_set_filename(part, name.c_str());
    g_mime_object_set_disposition(GMIME_OBJECT(part), "attachment");
    GMimeStream* stream = g_mime_stream_mem_new_with_buffer(attachment.data(), attachment.size());
    GMimeDataWrapper* content = g_mime_data_wrapper_new_with_stream(stream, GMIME_CONTENT_ENCODING_DEFAULT);
    g_mime_part_set_content(part, content);
    g_mime_part_set_content_encoding(part, GMIME_CONTENT_ENCODING_BASE64);
    g_object_unref(content);
    g_object_unref(stream);
    g_mime_multipart_add(mixed, GMIME_OBJECT(part));
    g_object_unref(part);
    g_mime_message_set_mime_part(message, GMIME_OBJECT(mixed));
    g_object_unref(mixed);
  }
  g_object_unref(body);
  char* s = g_mime_object_to_string(GMIME_OBJECT(message), nullptr);
  *text = s ? s : "";
  g_free(s);
  g_object_unref(message);
  if (text->empty()) {
    *error = "the message could not be written";
    return false;
  }
  return true;
}

bool putInOutbox(const std::string& mailRoot, const std::string& service, const std::string& text, std::string* path,
                 std::string* error) {
  if (service.empty() || service == "." || service == ".." || service.find('/') != std::string::npos) {
    *error = "not a mail service name: " + service;
    return false;
  }
  std::string root = mailRoot;
  if (!root.empty() && root.back() == '/') root.pop_back();
  const std::string box = root + "/" + service + "/Outbox";
  for (const std::string& folder : {root, root + "/" + service, box, box + "/tmp", box + "/new", box + "/cur"}) {
    if (!makeFolder(folder)) {
      *error = "cannot make " + folder + ": " + std::strerror(errno);
      return false;
    }
  }
  const std::string name = uniqueName();
  const std::string temporary = box + "/tmp/" + name;
  const std::string final = box + "/new/" + name;
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    *error = "cannot create " + temporary + ": " + std::strerror(errno);
    return false;
  }
  size_t done = 0;
  int failure = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failure = n < 0 ? errno : ENOSPC;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (!failure && ::fsync(fd) != 0) failure = errno;
  if (::close(fd) != 0 && !failure) failure = errno;
  if (!failure && ::rename(temporary.c_str(), final.c_str()) != 0) failure = errno;
  if (failure) {
    ::unlink(temporary.c_str());
    *error = "cannot write " + final + ": " + std::strerror(failure);
    return false;
  }
  *path = final;
  return true;
}

bool readMessageFile(const std::string& path, ReadMessage* message, std::string* error) {
  std::string data;
  if (!readRegularFile(path, &data, error)) return false;
  if (!parseMessage(data, message)) {
    *error = "not a message: " + path;
    return false;
  }
  return true;
}

bool findServiceBySubject(const std::string& mailRoot, const std::string& subject, std::string* service,
                          std::string* id) {
  std::vector<std::string> services;
  if (DIR* d = opendir(mailRoot.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.' && std::strcmp(e->d_name, "ActiveSync") != 0) services.push_back(e->d_name);
    closedir(d);
  }
  std::sort(services.begin(), services.end());
  for (const std::string& s : services) {
    for (const char* folder : {"/Outbox/new", "/Outbox/cur"}) {
      const std::string dir = mailRoot + "/" + s + folder;
      std::vector<std::string> files;
      if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
          if (e->d_name[0] != '.') files.push_back(e->d_name);
        closedir(d);
      }
      std::sort(files.begin(), files.end());
      for (const std::string& f : files) {
        ReadMessage m;
        std::string error;
        if (!readMessageFile(dir + "/" + f, &m, &error)) continue;
        if (g_ascii_strcasecmp(m.subject.c_str(), subject.c_str()) != 0 || m.from.empty()) continue;
        *service = s;
        *id = m.from;
        return true;
      }
    }
  }
  return false;
}

}  // namespace vlm
