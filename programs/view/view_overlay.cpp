// view_overlay.cpp: the GPU time of each step of the frame, and the text over
// the picture: the clock and timings (T), the keys (H) and the log of shader
// files that do not build. Letters come from stb_easy_font, which turns ASCII
// into untextured quads.
#include <stb_easy_font.h>

#include <cstdio>
#include <string>

#include "programs/view/view.h"

void view_timers_start(view_timers* timers) {
  glGenQueries(VIEW_TIMED_STEPS, timers->queries);
  timers->running = 0;
  timers->measured = 0;
}

void view_timers_begin(view_timers* timers) {
  // The previous frame's queries have long been finished by now.
  if (timers->running > 0) view_timers_end(timers);
  glBeginQuery(GL_TIME_ELAPSED, timers->queries[0]);
  timers->running = 1;
}

void view_time_step(const char* step, void* user) {
  view_timers* timers = static_cast<view_timers*>(user);
  if (timers->running == 0 || timers->running >= VIEW_TIMED_STEPS) return;
  glEndQuery(GL_TIME_ELAPSED);
  timers->running_names[timers->running - 1] = step;
  glBeginQuery(GL_TIME_ELAPSED, timers->queries[timers->running]);
  ++timers->running;
}

void view_timers_end(view_timers* timers) {
  if (timers->running == 0) return;
  glEndQuery(GL_TIME_ELAPSED);
  timers->running_names[timers->running - 1] = "present";
  for (int i = 0; i < timers->running; ++i) {
    GLuint64 nanoseconds = 0;
    glGetQueryObjectui64v(timers->queries[i], GL_QUERY_RESULT, &nanoseconds);
    timers->ms[i] = static_cast<double>(nanoseconds) / 1e6;
    timers->names[i] = timers->running_names[i];
  }
  timers->measured = timers->running;
  timers->running = 0;
}

namespace {

// The font has the printable ASCII characters only, and looks each one up by
// its code: every other character (a UTF-8 sequence in a path, say) is shown
// as one '?', and nothing outside the font's table is ever looked up.
std::string printable(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto code = static_cast<unsigned char>(c);
    if (code == '\n' || (code >= 32 && code < 127))
      out += c;
    else if (code < 0x80 || code >= 0xC0)  // not a UTF-8 continuation byte
      out += '?';
  }
  return out;
}

// Draws text with its top-left corner at (x, y) in window pixels (y down),
// magnified `scale` times, on a dark panel. Returns the panel's height.
float draw_text(const std::string& text, float x, float y, float scale, unsigned char red,
                unsigned char green, unsigned char blue) {
  static char vertices[160000];  // about 2,000 characters
  std::string shown = printable(text);
  char* chars = shown.data();
  const float width = static_cast<float>(stb_easy_font_width(chars)) * scale;
  const float height = static_cast<float>(stb_easy_font_height(chars)) * scale;
  glColor4f(0.0f, 0.0f, 0.0f, 0.6f);
  glRectf(x - 4 * scale, y - 4 * scale, x + width + 4 * scale, y + height + 2 * scale);
  unsigned char color[4] = {red, green, blue, 255};
  const int quads = stb_easy_font_print(0, 0, chars, color, vertices, sizeof vertices);
  glPushMatrix();
  glTranslatef(x, y, 0.0f);
  glScalef(scale, scale, 1.0f);
  glEnableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_COLOR_ARRAY);
  glVertexPointer(2, GL_FLOAT, 16, vertices);
  glColorPointer(4, GL_UNSIGNED_BYTE, 16, vertices + 12);
  glDrawArrays(GL_QUADS, 0, quads * 4);
  glPopMatrix();
  return height + 8 * scale;
}

std::string clock_text(const view_state* view) {
  char line[512];
  std::string text;
  const double fps = view->options.fps;
  std::snprintf(line, sizeof line, "%.3f s   frame %ld of %ld at %g fps   %s   image: %s\n",
                static_cast<double>(view->frame) / fps, view->frame, film_frame_count(fps), fps,
                view->playing ? "playing" : "paused", film_steps[view->shown].image);
  text += line;
  std::snprintf(line, sizeof line, "frame rate: %.1f frames/s at %dx%d   last stepping %.1f ms\n",
                view->frames_per_second, TVJAYSLH[0], TVJAYSLH[1], view->last_seek_ms);
  text += line;
  text += "GPU time of each step:\n";
  for (int i = 0; i < view->timers.measured; ++i) {
    std::snprintf(line, sizeof line, "  %-16s %8.2f ms\n", view->timers.names[i],
                  view->timers.ms[i]);
    text += line;
  }
  if (view->shaders.watching) {
    std::snprintf(line, sizeof line, "shaders: %s, %d rebuilt, last in %.1f ms\n",
                  view->options.shaders.c_str(), view->shaders.rebuilds,
                  view->shaders.last_rebuild_ms);
    text += line;
  }
  if (!view->message.empty()) text += view->message + "\n";
  return text;
}

// At most `most` lines of the text.
std::string first_lines(const std::string& text, int most) {
  size_t end = 0;
  for (int line = 0; line < most && end != std::string::npos; ++line) {
    end = text.find('\n', end == 0 ? 0 : end + 1);
  }
  return end == std::string::npos ? text : text.substr(0, end) + "\n...";
}

}  // namespace

void view_draw_overlay(const view_state* view, int width, int height) {
  const std::string log = view_shaders_log(&view->shaders);
  if (!view->overlay && !view->help && log.empty()) return;
  const float scale = height >= 540 ? 2.0f : 1.0f;
  orthographic(static_cast<unsigned>(width), static_cast<unsigned>(height));
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  glPushAttrib(GL_ENABLE_BIT | GL_CURRENT_BIT | GL_COLOR_BUFFER_BIT);
  glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
  glDisableClientState(GL_NORMAL_ARRAY);
  glDisableClientState(GL_TEXTURE_COORD_ARRAY);
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_CULL_FACE);
  glDisable(GL_TEXTURE_2D);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glUseProgram(0);
  float y = 8 * scale;
  if (view->overlay) y += draw_text(clock_text(view), 8 * scale, y, scale, 255, 255, 255);
  if (view->help)
    y += draw_text(std::string("Keys:\n") + view_keys_text, 8 * scale, y, scale, 255, 255, 200);
  if (!log.empty())
    draw_text(
        "shader files that do not build (the last good programs run):\n" + first_lines(log, 24),
        8 * scale, y, scale, 255, 140, 140);
  glPopClientAttrib();
  glPopAttrib();
}
