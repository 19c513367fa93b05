// view_shaders.cpp: the film's shaders read from a folder and rebuilt when
// their files change.
//
// Each program of film_programs has a file per stage, NAME.vert (lit
// programs only) and NAME.frag, written from the built-in texts when missing.
// Every turn the files are looked at (size, time and file number, through the
// system layer); a program with a
// changed file is compiled and linked anew from both its files. A file that
// is missing, empty, larger than 1 MB or not text, or a text that does not
// compile or link, leaves the last good program in place and keeps the
// reason as the program's log until its files build.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "programs/common/command.h"
#include "programs/view/view.h"

namespace {

constexpr long long most_shader_bytes = 1 << 20;

// What a file looks like now, to notice a change; empty when it is missing.
std::string stamp_of(const std::string& path) {
  system_file_status status{};
  bool missing = false;
  if (system_stat_file(path.c_str(), &status, &missing)) return "";
  char stamp[128];
  std::snprintf(stamp, sizeof stamp, "%lld %llu %llu %llu %llu", status.size, status.identity[0],
                status.identity[1], status.identity[2], status.identity[3]);
  return stamp;
}

// Reads a shader file: "" and its text in *text, or the reason it cannot be
// used. The type is checked before any read, without blocking.
std::string read_shader(const std::string& path, std::string* text) {
  system_file_status status{};
  bool missing = false;
  if (system_stat_file(path.c_str(), &status, &missing) && missing) return "no such file";
  std::vector<unsigned char> bytes;
  std::string problem;
  if (const char* reason = system_read_file(path.c_str(), most_shader_bytes, &bytes))
    problem = status.size > most_shader_bytes ? "the file is larger than 1 MB" : reason;
  text->assign(bytes.begin(), bytes.end());
  if (!problem.empty()) return problem;
  if (text->empty()) return "the file is empty";
  for (unsigned char c : *text)
    if (c == 0 || (c < 32 && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != '\v'))
      return "the file is not text";
  return "";
}

const view_stage_file* stage_of(const view_shaders* shaders, int program, bool vertex) {
  for (const view_stage_file& file : shaders->files)
    if (file.program == program && file.vertex == vertex) return &file;
  return nullptr;
}

// Builds program `index` from its files; on success it replaces the running
// one. Returns the reason it does not build, or "".
std::string rebuild(view_shaders* shaders, int index) {
  const film_program& entry = film_programs[index];
  std::string texts[2];  // fragment, vertex
  const view_stage_file* files[2] = {stage_of(shaders, index, false),
                                     entry.vertex ? stage_of(shaders, index, true) : nullptr};
  for (int i = 0; i < 2; ++i) {
    if (!files[i]) continue;
    const std::string problem = read_shader(files[i]->path, &texts[i]);
    if (!problem.empty()) return "cannot use " + files[i]->path + ": " + problem + "\n";
  }
  std::string log;
  const GLuint fragment = build_shader(texts[0].c_str(), GL_FRAGMENT_SHADER, &log);
  if (!fragment) return files[0]->path + " does not compile:\n" + log;
  GLuint vertex = 0;
  if (files[1]) {
    vertex = build_shader(texts[1].c_str(), GL_VERTEX_SHADER, &log);
    if (!vertex) {
      glDeleteShader(fragment);
      return files[1]->path + " does not compile:\n" + log;
    }
  }
  const GLuint program = build_program(vertex, fragment, &log);
  if (!program) {
    glDeleteShader(fragment);
    if (vertex) glDeleteShader(vertex);
    return std::string(entry.name) + " does not link:\n" + log;
  }
  delete_program_and_shaders(static_cast<GLuint>(*entry.handle));
  *entry.handle = static_cast<int>(program);
  return "";
}

// Rebuilds a program, keeps its log and says on stderr what failed.
void rebuild_and_report(view_shaders* shaders, int index) {
  const double start = steady_seconds();
  std::string& error = shaders->errors[index];
  const std::string before = error;
  error = rebuild(shaders, index);
  if (error.empty()) {
    glFinish();  // the time includes what the driver defers to the first use
    shaders->last_rebuild_ms = 1000 * (steady_seconds() - start);
    ++shaders->rebuilds;
    if (!before.empty())
      std::fprintf(stderr, "%s: %s builds again\n", view_program_name, film_programs[index].name);
  } else {
    std::fprintf(stderr, "%s: %s", view_program_name, error.c_str());
    if (error.back() != '\n') std::fputc('\n', stderr);
  }
}

}  // namespace

void view_shaders_start(view_shaders* shaders, const std::string& folder) {
  if (folder.empty()) return;
  // Paths are UTF-8 throughout (on Windows too, where a plain path would be
  // read in the system's code page).
  const std::filesystem::path base = std::filesystem::u8path(folder);
  std::error_code error;
  std::filesystem::create_directories(base, error);
  if (!error && !std::filesystem::is_directory(base, error) && !error)
    error = std::make_error_code(std::errc::not_a_directory);
  // The folder must be readable too (its files are looked at every turn).
  if (!error) std::filesystem::directory_iterator(base, error);
  if (error) {
    std::fprintf(stderr, "%s: cannot use the shaders folder %s: %s (the built-in shaders go on)\n",
                 view_program_name, folder.c_str(), error.message().c_str());
    return;
  }
  // Each missing file is written from the built-in text. A name that cannot
  // be written costs that program only: it keeps its built-in text, with the
  // reason as its log, and its files are watched like the others.
  bool unwritten[FILM_PROGRAM_COUNT] = {};
  for (int index = 0; index < FILM_PROGRAM_COUNT; ++index) {
    const film_program& entry = film_programs[index];
    for (int vertex = 0; vertex < 2; ++vertex) {
      if (vertex && !entry.vertex) continue;
      view_stage_file file{
          index, vertex == 1,
          (base / (std::string(entry.name) + (vertex ? ".vert" : ".frag"))).u8string(), ""};
      const std::string text = vertex ? *entry.vertex : *entry.fragment;
      bool existed = false;
      if (const char* problem =
              system_create_file(file.path.c_str(), text.data(), text.size(), &existed)) {
        shaders->errors[index] += "cannot write " + file.path + ": " + problem + "\n";
        std::fprintf(stderr, "%s: cannot write %s: %s (the built-in %s goes on)\n",
                     view_program_name, file.path.c_str(), problem, entry.name);
        unwritten[index] = true;
      }
      shaders->files.push_back(file);
    }
  }
  shaders->watching = true;
  // Files that differ from the built-in texts (edited before the start) build now.
  bool differs[FILM_PROGRAM_COUNT] = {};
  for (view_stage_file& file : shaders->files) {
    file.stamp = stamp_of(file.path);
    const film_program& entry = film_programs[file.program];
    std::string text;
    const std::string problem = read_shader(file.path, &text);
    if (!problem.empty() || text != (file.vertex ? *entry.vertex : *entry.fragment))
      differs[file.program] = true;
  }
  for (int index = 0; index < FILM_PROGRAM_COUNT; ++index)
    if (differs[index] && !unwritten[index]) rebuild_and_report(shaders, index);
}

bool view_shaders_check(view_shaders* shaders) {
  if (!shaders->watching) return false;
  bool changed[FILM_PROGRAM_COUNT] = {};
  for (view_stage_file& file : shaders->files) {
    const std::string stamp = stamp_of(file.path);
    if (stamp == file.stamp) continue;
    file.stamp = stamp;
    changed[file.program] = true;
  }
  bool any = false;
  for (int index = 0; index < FILM_PROGRAM_COUNT; ++index) {
    if (!changed[index]) continue;
    rebuild_and_report(shaders, index);
    any = true;
  }
  return any;
}

std::string view_shaders_log(const view_shaders* shaders) {
  std::string log;
  for (const std::string& error : shaders->errors) log += error;
  return log;
}
