#include "trainer/text_files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "trainer/input_error.h"

namespace trainer {
namespace {

std::filesystem::path directory_of(const std::string& path) {
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  return parent.empty() ? std::filesystem::path(".") : parent;
}

std::string temporary_beside(const std::string& path) {
  return path + ".tmp-oscnet";
}

}  // namespace

std::string read_text_file(const std::string& path) {
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) {
    throw InputError("cannot read " + path + ": it is a directory");
  }
  std::ifstream stream(path, std::ios::binary);
  if (!stream) throw InputError("cannot read " + path + ": " + std::strerror(errno));
  std::ostringstream text;
  text << stream.rdbuf();
  if (stream.bad()) throw InputError("cannot read " + path + ": " + std::strerror(errno));
  return text.str();
}

void check_writable(const std::string& path, const std::string& option) {
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) {
    throw InputError(option + " " + path + ": it is a directory");
  }
  const std::filesystem::path directory = directory_of(path);
  if (!std::filesystem::is_directory(directory, ignored)) {
    throw InputError(option + " " + path + ": the directory " + directory.string() +
                     " does not exist");
  }
  // The file is written beside its destination at the end, so that is what is tried here.
  const std::string trial = temporary_beside(path);
  if (!std::ofstream(trial, std::ios::binary | std::ios::trunc)) {
    throw InputError(option + " " + path + ": cannot write in " + directory.string() + ": " +
                     std::strerror(errno));
  }
  std::remove(trial.c_str());
}

void write_file_atomically(const std::string& path, const std::string& text) {
  const std::string temporary = temporary_beside(path);
  const auto fail = [&](const std::string& reason) {
    std::remove(temporary.c_str());
    return std::runtime_error("cannot write " + path + ": " + reason);
  };
  std::ofstream stream(temporary, std::ios::binary | std::ios::trunc);
  if (!stream) throw fail(std::strerror(errno));
  stream << text;
  // A full disk may show only when the last buffer is written out, at close.
  stream.close();
  if (!stream) throw fail(std::strerror(errno));
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  if (error) throw fail(error.message());
}

}  // namespace trainer
