#include "app/pages/uRepairLog.h"

#include "app/uEnvironment.h"
#include "platform/FileOps.h"
#include "platform/Platform.h"
#include "platform/ScopeGuard.h"

namespace quenlo {

namespace {

constexpr std::string_view kLineEnd = "\r\n";

} // namespace

std::string HtmlEscape(std::string_view text) {
  return MarkupEscape(text);
}

std::string RepairLogHead() {
  return "<!DOCTYPE html>\r\n<html><head><meta charset=\"utf-8\"><title>Quenlo "
         "repairs</title></head><body>\r\n";
}

std::string RepairLogCategoryLine(std::string_view categoryName) {
  return "<b>" + HtmlEscape(categoryName) + "</b><br>";
}

std::string RepairLogLocationLine(std::string_view location) {
  return HtmlEscape(location) + "<br>";
}

bool AppendToLog(const std::string &path, std::string_view text) {
  qp::IFileSystem &fs = qp::Platform().Files();
  long error = 0;
  std::string line;
  if (fs.GetAttributes(path, &error) == wc::InvalidFileAttributes) {
    if (error != wc::ErrorFileNotFound && error != wc::ErrorPathNotFound)
      return false; // never start a new log over one that is there
    line = RepairLogHead();
  }
  line.append(text);
  line.append(kLineEnd);
  return fs.AppendFile(path, line) == wc::ErrorSuccess;
}

bool WriteFailureFile(const std::string &path, std::string_view text) {
  std::string content(text);
  content.append(kLineEnd);
  return qp::ReplaceFileContent(path, content) == wc::ErrorSuccess;
}

} // namespace quenlo
