// toolkit.h: the film's small GPU toolkit, its whole public API.
//
// OVERVIEW
// A plain C-style interface over plain records (no classes, no hidden state
// machine) for an OpenGL 2.0 compatibility context: a window layer over GLFW
// 3, shader programs built from whole texts or numbered pieces, floating-point
// render targets, projections and full-screen passes, a Gaussian blur and two
// noise programs, and indexed triangle meshes. Everything runs on the one
// thread that owns the GL context.
//
// ORDER OF USE
// 1. Window: window_init, set the window size pair TVJAYSLH, window_open.
// 2. Loader: ST664M60 starts GLEW and creates the shared objects listed under
//    GLOBALS (the film runs it as the first entry of its loaders table).
// 3. Targets: layer, depth, accumulator; projections and quad.
// 4. Passes: generate, transform, blit, the blur and noise programs.
// 5. Meshes: mesh (and the film's load_mesh), render, free_mesh.
// 6. Unloader: TJOZD8F4 (the first entry of the film's unloaders table), then
//    window_terminate.
//
// CODE EXAMPLE
//   TVJAYSLH[0] = 320; TVJAYSLH[1] = 180;
//   if (!window_init() || !window_open(320, 180, 32, WINDOW_HIDDEN)) return 1;
//   ST664M60();
//   layer_record* image = layer(320, 180);
//   fbm_uniforms(4.0f, 5.0f, 0.5f);  // fBm noise: frequency, octaves, gain
//   generate(image, static_cast<int>(FOBIMQQB[3]));  // the noise into the layer
//   blit_to_back_buffer(image);
//   window_swap();
//   TJOZD8F4();
//   window_terminate();
//
// GLOSSARY: THE SYSTEM'S NAMES
// The toolkit's globals and tables keep the system's own eight-letter names.
// What each is, who writes it, who reads it:
//   TVJAYSLH  int[2]      the render size (width, height). Written by the
//                         program before the loaders (film_start does it) and
//                         by a resize; read by the loaders, targets, passes.
//   ST664M60  function    the toolkit's loader: starts GLEW, builds the shared
//                         programs and targets below. The first entry of the
//                         film's loaders table P744X1EL (film/film.h).
//   TJOZD8F4  function    the toolkit's unloader: deletes what ST664M60 made.
//                         The first entry of the film's unloaders table
//                         FDC2CHR7.
//   MUANXLC   GLuint      the pass-through vertex shader, attached to every
//                         program built from pieces. Made by ST664M60.
//   P4E6JEEC  record*     the scene target (colour and depth, window size):
//                         the frame's scene step draws into it, the depth of
//                         field reads its depth. Made by ST664M60, remade by a
//                         resize (film_resize).
//   PXDKBCRM  GLuint[2]   the generator textures (512 x 512 half floats) that
//                         mesh() renders a grid's vertices into.
//   HVATQD0L  GLuint      the generator framebuffer holding PXDKBCRM.
//   FOBIMQQB  GLuint[4]   programs: vertical blur, horizontal blur, white
//                         noise, fBm noise. Made by ST664M60; read by the
//                         film's passes.
//   Z886594B  char*[8]    the shader piece table that FOBIMQQB is stitched from.
// The frame's inputs that are globals:
//   TIME, FRAME_INTERVAL, START_TIME (film/film.h)  the frame clock, written by
//       clock_tick (or stepped_clock_to), read by the script and the passes.
//   TVJAYSLH and P4E6JEEC above                     the render size and the
//       scene target.
//   toolkit_present_size (this header)              the framebuffer the window
//       actually has, written by film_start and a resize, read by the bars
//       and the presentation copy.
//   toolkit_gl_checks (this header)                 whether each stage reports
//       its GL errors; set by checking builds.
// Constant table: Z886594B. Everything else named
// here is owned by the toolkit: everyone may read it, only the writers above
// change it.
//
// WHAT THE FILM USES
// The film calls the window layer, the loaders, the targets, the passes of
// passes.cpp, the programs of shaders.cpp and the meshes. It never calls
// blit, blit_accumulator_to_layer, consolidate, far_plane or
// is_interval_hit: those are the toolkit's own, kept and tested as such.
//
// OWNERSHIP OF RETURNED RECORDS
// layer, depth and accumulator return records (and GL objects) that the
// caller owns and that live until the context ends: nothing here deletes
// them. mesh returns a record the caller frees with free_mesh.
// generate_gaussian_weights returns a block the caller frees with free.
// window_decode_tga fills a tga_image freed with window_free_tga. Shader and
// program names belong to the caller.
#pragma once

#include <GL/glew.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------
// Window layer (window.cpp): one interface over two back-ends, chosen once by
// window_init (see window_gl): a window through GLFW (window_glfw.cpp, the
// only code in the system that talks to GLFW) or, on Linux, an EGL context
// without a window system (window_egl.cpp). It offers the behaviour the film
// relies on: a full-screen window with the given bits, a clock,
// swap-with-event-polling, the Escape key and TGA loading; and for the viewer
// a resizable window with a queue of key presses.

enum window_mode {
  WINDOW_FULLSCREEN = 0,  // full screen on the primary monitor
  WINDOW_HIDDEN = 1,      // an invisible window, for tools and tests
  WINDOW_RESIZABLE = 2,   // a visible window with a frame the user may resize
};

// Keys the queue reports, with the windowing library's own codes (letters
// and digits are their upper-case ASCII codes), and the Shift modifier.
enum window_key_code {
  WINDOW_KEY_SPACE = 32,
  WINDOW_KEY_COMMA = 44,
  WINDOW_KEY_PERIOD = 46,
  WINDOW_KEY_0 = 48,  // WINDOW_KEY_0 + n for the digit n
  WINDOW_KEY_A = 65,  // WINDOW_KEY_A + n for the n-th letter after A
  WINDOW_KEY_ESCAPE = 256,
  WINDOW_KEY_RIGHT = 262,
  WINDOW_KEY_LEFT = 263,
  WINDOW_KEY_HOME = 268,
  WINDOW_KEY_END = 269,
};
constexpr int WINDOW_MOD_SHIFT = 1;

// One key press (or auto-repeat of a held key): its code and modifiers.
struct window_key {
  int key;
  int mods;  // WINDOW_MOD_SHIFT and the windowing library's other bits
};

// How window_init and window_open reach OpenGL. X11: a window of the window
// system, through the windowing library (on Linux the X display named by
// $DISPLAY; Windows and browsers have only this way). EGL: no window
// system at all (Linux builds only): a context on a GPU's EGL device, else
// Mesa's surfaceless EGL display, drawing into an off-screen surface of the
// window's size that is its default framebuffer; the clock still runs, and
// there are no keys, pointer or resizing. AUTO: EGL when $DISPLAY is unset or
// empty, else X11 (always the window system where EGL is not built in).
enum window_gl {
  WINDOW_GL_AUTO = 0,
  WINDOW_GL_X11 = 1,
  WINDOW_GL_EGL = 2,
};
// Set before window_init; starts as WINDOW_GL_X11 (the players and the
// viewer need a visible window; tools and tests choose AUTO).
extern window_gl toolkit_window_gl;
// Non-zero when window_init, given this choice, goes the EGL way.
int window_gl_uses_egl(window_gl choice);
// What the open context runs on: "X11", or the EGL display that gave it
// ("EGL device 0 (/dev/dri/card0)", "EGL surfaceless", ...); "a window"
// where EGL is not built in.
const char* window_gl_platform();

// Initialises the windowing library and starts its clock. Returns 1 on
// success, 0 on failure (with a line on stderr naming the reason).
int window_init();
// Opens a window of the given size with 8 bits per channel including alpha,
// the given depth bits, no stencil, a compatibility context made current. A
// full-screen window hides the mouse pointer while it is open.
// Returns 1 on success, 0 on failure (with a line on stderr).
int window_open(int width, int height, int depth_bits, window_mode mode);
// Seconds since window_init.
double window_time();
// Presents the back buffer, then processes pending window events.
void window_swap();
// Non-zero while Escape is down, or when it was pressed since the last call
// (a press is kept until it is read, however short).
int window_escape_down();
// Forgets every key press made so far (pending window events are processed
// first, so that presses made while the program was busy count as made
// before): the queue is emptied, and a press of Escape not yet read is
// dropped. An Escape still held down now stays down: a key held is not a
// press made before. A program calls it where presses begin to count (the
// players, as the film begins).
void window_forget_keys();
// Non-zero once the system asked the window to close (window manager, etc.).
int window_close_requested();
// Takes the oldest key press that arrived since the window opened (each
// press and auto-repeat, in order, however short) into *out and returns 1;
// returns 0 when none is waiting. The queue keeps the last 64 presses.
int window_next_key(window_key* out);
// Puts a key press at the end of the queue, exactly as if it had been typed
// (for Escape, a tap that window_escape_down reports): tests drive a program
// through it.
void window_inject_key(int key, int mods);
// Processes pending window events, waiting up to `seconds` for one to come
// when none is pending (for a program with nothing to draw).
void window_wait_events(double seconds);
// Asks the window system to give the window a new size, as a user resizing
// it would; the framebuffer follows once the system has done it.
void window_set_size(int width, int height);
// Size of the window's framebuffer in pixels, as actually obtained.
void window_framebuffer_size(int* width, int* height);
// Closes the window and releases the windowing library.
void window_terminate();
// Closes the window as a program ends, before system_end_process: on POSIX
// window_terminate; on Windows nothing, as the process's end closes it.
void window_leave();
// Reads a TGA image into the texture bound to GL_TEXTURE_2D: bottom row
// first, rescaled to power-of-two sizes, uploaded as GL_LUMINANCE, GL_RGB or
// GL_RGBA by bytes per pixel, with its full mipmap chain. Sets no texture
// parameter. Returns 1 on success; 0 (and a line on stderr) when the file is
// missing or not a readable TGA image, leaving the texture without an image.
int window_load_texture(const char* path);

// A TGA image decoded for upload: power-of-two sides, bottom row first, and
// its whole mipmap chain (largest level first, down to 1 x 1) in one block.
struct tga_image {
  unsigned char* pixels;  // every level, one after another; free with window_free_tga
  int width;              // of level 0
  int height;
  int channels;  // bytes per pixel: 1 luminance, 2 luminance-alpha, 3 RGB, 4 RGBA
  int level_count;
};
// The CPU part of window_load_texture: checks the TGA bytes, decodes them,
// resamples to power-of-two sides no larger than max_size (0: no limit) and
// builds the mipmap chain. Needs no GL. Returns null on success, otherwise a
// short reason (and *out holds nothing).
const char* window_decode_tga(const unsigned char* bytes, size_t size, int max_size,
                              tga_image* out);
void window_free_tga(tga_image* image);
// Reads a TGA file (a regular file of bounded size; anything else is refused
// without waiting on it) and decodes it as window_decode_tga does. Returns
// null on success, otherwise a short reason (and *out holds nothing).
const char* window_read_tga(const char* path, int max_size, tga_image* out);
// Uploads a decoded image with its mipmap chain into the texture bound to
// GL_TEXTURE_2D, as window_load_texture does. The image stays the caller's.
void window_upload_tga(const tga_image* image);

// GL error reports by stage. While toolkit_gl_checks is non-zero (it starts
// so in builds made with FILM_GL_DEBUG, which also ask for a debug context),
// toolkit_gl_stage reports on stderr every GL error raised since its last
// call, naming the stage just finished, and returns how many it found. While
// it is zero the call does nothing and returns 0.
extern int toolkit_gl_checks;
int toolkit_gl_stage(const char* stage);

// Checks that the current context offers OpenGL 2.0, framebuffer objects and
// half-float textures, using only OpenGL 1.1 calls. Returns null when it does,
// otherwise a short reason suitable for an error line.
const char* toolkit_missing_capability();
// Null when every OpenGL entry point beyond 1.1 that the toolkit and the
// film call has been loaded (by ST664M60's glewInit); otherwise the name of
// the first one missing. This, not glewInit's answer, decides whether the
// film can run: a GLEW built for GLX answers an EGL context with an error
// after loading them all.
const char* toolkit_missing_entry_point();

// ---------------------------------------------------------------------------
// System (system_posix.cpp, system_windows.cpp or system_web.cpp): the little that differs
// between operating systems, so that nothing else needs to know which it is.

// The running program's short name (no folder, no ".exe"), for the start of
// error lines.
const char* system_program_name();
// Makes sure that standard input, output and error are open, giving each one
// that is closed the system's null device, so that no file the program opens
// later takes their place. Call it first thing in main. Returns 1, or 0 when
// a closed one cannot be opened (the program should then end with status 1).
int system_open_standard_streams();
// Runs a windowed program's body and returns its exit status. On POSIX it
// just calls it. On Windows a windowed program has no console: unless its
// standard error was sent to a file or a pipe (by a script), what the body
// writes there is kept and shown in a message box when the program ends
// (also after exit()).
int system_run_windowed(int (*body)());
// Ends a program that has closed its window and its files, with `status`:
// call it as `return system_end_process(status)` at the end of main. On
// POSIX it returns the status for main to return. On Windows it flushes the
// standard streams and ends the process at once, without the library
// unloading that faulted now and then under Wine after the window was gone.
int system_end_process(int status);
// Null when windows can be opened; otherwise why not, in one line naming
// what is missing (on POSIX: neither an X display named by $DISPLAY nor a
// Wayland socket, $WAYLAND_DISPLAY or wayland-0 in $XDG_RUNTIME_DIR, or
// $WAYLAND_DISPLAY as a path; Windows always has its desktop).
const char* system_missing_display();
// The most memory the process has held resident so far, in bytes, and where
// the figure comes from (for the benchmark's report).
unsigned long long system_peak_memory_bytes();
const char* system_peak_memory_source();

// File names and arguments are UTF-8 text on every system. On Windows the
// narrow command line and the C runtime's narrow file calls use the system's
// code page (or the C locale), so the arguments are read again from the wide
// command line and files are opened through the wide calls; the standard
// library's paths are made with std::filesystem::u8path and read back with
// u8string().
// Replaces *argc and *argv by the program's arguments as UTF-8 (POSIX: as
// they are). Call it first thing in main.
void system_utf8_arguments(int* argc, char*** argv);
// std::fopen of a UTF-8 path.
std::FILE* system_open_file(const char* path, const char* mode);

// What a path names, as far as loading files goes.
enum system_file_type {
  SYSTEM_FILE_REGULAR = 0,  // a file that can be read to its end
  SYSTEM_FILE_FOLDER = 1,
  SYSTEM_FILE_OTHER = 2,  // a FIFO, device or socket: reading it could wait
};
struct system_file_status {
  system_file_type type;
  long long size;                  // bytes, for a regular file
  unsigned long long identity[4];  // device, file number, modification time:
                                   // equal for the same unchanged file
};
// Looks the path up without opening it. Returns null, or the reason it cannot
// (the system's words); *missing then says whether there is no such file.
const char* system_stat_file(const char* path, system_file_status* out, bool* missing);
// Reads the whole of the regular file at path, of at most max_bytes, into
// *bytes (resized to fit). The type is checked before any read, so that a
// FIFO or a device in place of the file cannot make the program wait.
// Returns null, or the reason it cannot.
const char* system_read_file(const char* path, long long max_bytes,
                             std::vector<unsigned char>* bytes);

// Creates a file at path holding the bytes, only where nothing is: a name
// taken by anything, a link included (even one to a missing file), is left
// as it is and *existed is set. The bytes go to a new temporary file in the
// same folder, which is moved to the name once written whole, so that the
// name never holds a partial file (a full disk leaves nothing) and no link is
// ever followed. Returns null when the file was made or the name was taken;
// otherwise the reason (the system's words), and nothing is left behind.
// Desktop systems only.
const char* system_create_file(const char* path, const void* bytes, size_t size, bool* existed);

// OpenGL flavour (gl_desktop.cpp or gl_web.cpp): hands shader texts to GL,
// adapted where the flavour needs it (WebGL's shading language lacks some of
// the fixed-function names the texts use). Same meaning as glShaderSource.
void gl_shader_source(GLuint shader, GLenum type, int count, const char* const* texts);
// Links the program. Desktop OpenGL runs a program without a vertex shader
// with fixed-function vertex processing; WebGL needs one, so there the
// pass-through vertex shader, which does the same for the film's passes, is
// attached first.
void gl_link_program(GLuint program);
// Runs the bound height-field program over the generator's (width + 1) x
// (height + 1) pixels from the origin. The desktop draws one two-pixel
// rectangle per cell, column by column; a browser draws one rectangle over
// them all, as each rectangle costs it a draw through the fixed-function
// emulation. Each pixel's value depends only on its position, so both give
// the same pixels.
void gl_cover_grid(unsigned width, unsigned height);
// Forgets what the flavour keeps for a mesh about to be freed: nothing on the
// desktop; its buffer objects in a browser.
struct mesh_record;
void gl_forget_mesh(const mesh_record* mesh);
// Whether shaders compile and programs link in the background, so that a
// program's checks can wait until it is complete (see programs_pending):
// never on the desktop, where each check waits as it always has; in a browser
// whose WebGL offers KHR_parallel_shader_compile.
bool gl_compiles_in_background();

// ---------------------------------------------------------------------------
// Records.

// A framebuffer with one texture: a colour texture (from layer) or a depth
// texture (from depth).
struct layer_record {
  GLuint framebuffer;
  GLuint texture;
  unsigned width;
  unsigned height;
};

// A framebuffer with a colour and a depth texture: the scene target.
struct accumulator_record {
  GLuint framebuffer;
  GLuint color_texture;
  GLuint depth_texture;
  unsigned width;
  unsigned height;
};

// An indexed triangle mesh with separate, tightly packed attribute arrays of
// three floats per vertex. Each array is its own malloc'd block.
struct mesh_record {
  float* positions;
  float* normals;
  float* tangents;  // drawn as the colour array
  float* texture_coordinates;
  unsigned* indices;  // triangle_count * 3, in winding order
  unsigned triangle_count;
  unsigned vertex_count;
};

// ---------------------------------------------------------------------------
// Shared globals (shared.cpp), the piece table (shaders.cpp), the loader and
// the unloader (startup.cpp).

// A loader or unloader: one entry of a table a loading or unloading bar runs.
typedef void (*loader_function)();

extern int TVJAYSLH[2];               // window width, height; set before ST664M60
extern GLuint MUANXLC;                // pass-through vertex shader
extern accumulator_record* P4E6JEEC;  // the window-sized scene target
extern GLuint PXDKBCRM[2];            // generator textures, 512 x 512 RGB16F
extern GLuint HVATQD0L;               // generator framebuffer
extern GLuint FOBIMQQB[4];            // vertical blur, horizontal blur, white noise, fBm
// The fBm program's uniforms: f, the base frequency; o, the octave count (the
// octaves k < o run), which fbm_uniforms keeps within 0 to 32; a, the gain
// of each octave over the one before.
extern const char* const Z886594B[8];  // the shader piece table

// Initialises GLEW and creates the shared objects above.
void ST664M60();
// Deletes what ST664M60 created (shader objects excepted) and frees P4E6JEEC.
void TJOZD8F4();

// Allocates or exits the program with a line on stderr: the toolkit has no
// way to carry on without the memory it asked for.
void* toolkit_allocate(size_t bytes);

// ---------------------------------------------------------------------------
// Shaders and programs (shaders.cpp). A failed compile or link prints the
// info log on stderr; the name is returned all the same.

// Compiles one NUL-terminated source of the given type (GL_VERTEX_SHADER or
// GL_FRAGMENT_SHADER) and returns the shader name.
int shader(const char* source, GLenum type);
// Compiles the pieces of Z886594B named by the list (ended by 255, at most 64
// indices) as one source, joined with nothing in between.
int stitch(const unsigned char* index_list, GLenum type);
// Links a program from the shaders, attached in the order second, first,
// third; -1 marks an absent first or second shader. Not made current.
int program(int first, int second, int third);
// Where GL compiles in the background (gl_compiles_in_background), shader,
// stitch and program return at once and the check of each, with its error
// line, waits until it is complete. programs_pending checks those now
// complete and returns how many shaders and programs are not (always 0 where
// nothing compiles in the background); programs_finish waits for every one.
int programs_pending();
void programs_finish();
// Runs ready(program) once the program is complete: at once unless it is
// pending. For what needs the linked program, such as setting a uniform.
void when_program_ready(GLuint program, void (*ready)(GLuint program));
// Compiles one source; returns the shader, or 0 (nothing left behind) with
// the info log in *log.
GLuint build_shader(const char* source, GLenum type, std::string* log);
// Links a program from a vertex shader (0 for the fixed-function stage) and a
// fragment shader, attached in that order; returns it, or 0 (the program
// deleted, the shaders kept) with the info log in *log.
GLuint build_program(GLuint vertex, GLuint fragment, std::string* log);
// The info log of a shader or of a program ("" when it has none).
std::string shader_info_log(GLuint shader);
std::string program_info_log(GLuint program);
// Deletes a program and the shaders attached to it.
void delete_program_and_shaders(GLuint program);

// ---------------------------------------------------------------------------
// Render targets, projections, presentation (targets.cpp).

// A new texture with linear filters and anisotropy 16 (1 on Mesa's software
// rasterisers, whose anisotropic filter blurs one-to-one samples), no
// mipmaps; leaves texture 0 bound.
GLuint texture(int width, int height, int level, GLenum internal_format, GLenum pixel_format,
               GLenum pixel_type, const void* pixels);
// A framebuffer with a GL_RGBA16F colour texture.
layer_record* layer(unsigned width, unsigned height);
// A framebuffer with only a depth texture.
layer_record* depth(unsigned width, unsigned height);
// A framebuffer with a GL_RGBA16F colour and a 24-bit depth texture.
accumulator_record* accumulator(unsigned width, unsigned height);
// Deletes a target made by layer() or depth() (its texture and framebuffer)
// and frees its record; null is allowed.
void free_layer(layer_record* target);
// Deletes a target made by accumulator() and frees its record; null is allowed.
void free_accumulator(accumulator_record* target);
// Why the target's framebuffer cannot be drawn into, or null when it can: a
// GL_OUT_OF_MEMORY raised since GL errors were last read (reading them clears
// them), or an incomplete framebuffer (a texture the driver could not make,
// a size beyond its limits). Leaves framebuffer 0 bound.
const char* target_problem(GLuint framebuffer);
// Viewport to the size; 45-degree frustum (near 0.1, far 15) of the aspect.
void perspective(int width, int height, float aspect);
// Viewport to the size; one unit per pixel, origin top-left, y down.
void orthographic(unsigned width, unsigned height);
// One screen-covering quad; texture coordinate (0, 0) at the bottom-left.
void quad(float width, float height);
// A quad whose texture coordinates are positions on a far plane.
void far_plane(uint16_t width, uint16_t height);
// Copies the layer onto the window (framebuffer 0): over all of it when the
// framebuffer has the render size's shape (TVJAYSLH), else into the largest
// rectangle of that shape centred in it, the rest cleared to black.
void blit_to_back_buffer(const layer_record* source);
// Where blit_to_back_buffer draws: the framebuffer size actually obtained.
// Zero (the default) means TVJAYSLH.
extern int toolkit_present_size[2];

// ---------------------------------------------------------------------------
// Full-screen passes (passes.cpp). Each leaves framebuffer 0 bound, program 0
// current, and the viewport and matrices set for its target.

void generate(const layer_record* target, int program);
void transform(const layer_record* source, const layer_record* target, int program);
void blit(const layer_record* source, const layer_record* target);
void blit_accumulator_to_layer(const accumulator_record* source, const layer_record* target);
// 1 if at least interval seconds passed since *timestamp (which then moves to
// now), else 0.
int is_interval_hit(float* timestamp, float interval);

// ---------------------------------------------------------------------------
// Gaussian blur (blur.cpp).

// A normalised kernel of 2r + 1 weights, r = int(3 sigma) - 1; the caller
// frees it. Sigma below 1/3 is raised to 1/3 (a single weight of 1).
float* generate_gaussian_weights(float sigma);

// ---------------------------------------------------------------------------
// Noise (noise.cpp).

// The octave count as the fBm program is given it: the count itself from 0
// to 32, 0 for NaN or a count below 0 (no octave runs, every pixel is 0.5),
// 32 for more (infinity too). The shader's own comparison with o cannot be
// trusted with NaN: a driver's compiler may rewrite it.
float fbm_octaves(float octaves);
// Sets the fBm program's (FOBIMQQB[3]) uniforms: f to the frequency, o to
// fbm_octaves(octaves), a to the gain. Leaves program 0 current.
void fbm_uniforms(float frequency, float octaves, float gain);

// ---------------------------------------------------------------------------
// Meshes (mesh.cpp).

// Renders the height-field program into the generator framebuffer over a grid
// of width x height cells and reads it back as a mesh with normals and
// tangents. The caller owns the record (free_mesh), as it owns one from the
// film's load_mesh.
mesh_record* mesh(int program, unsigned width, unsigned height);
// Frees a mesh record and its five arrays (each a malloc'd block, as every
// record that mesh and load_mesh return). Null is allowed and does nothing.
void free_mesh(mesh_record* mesh);
// Smooth, area-weighted vertex normals and t-derived tangents.
void compute_vertex_attributes(mesh_record* mesh);
// Welds vertices closer than distance; renumbers in order of first use.
void consolidate(mesh_record* mesh, float distance);
// Draws the mesh in one indexed call: from client-side arrays on the desktop
// (gl_desktop.cpp); from buffer objects made on its first draw in a browser
// (gl_web.cpp), whose GL cannot draw large meshes from client memory.
void render(const mesh_record* mesh);
