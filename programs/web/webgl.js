// webgl.js: the WebGL 1 context the film runs in, made by the page before the
// program starts, and the little adapting the film's desktop-GL habits need.
//
// skywardContext(canvas, keepImage) returns {gl} or {error: a sentence that
// says what this browser lacks}. The adapter works on the context's own
// methods, below Emscripten's GL layer, so the program's calls stay as they
// are on the desktop:
// - half-float targets (asked for as GL_RGBA16F or GL_RGB16F with GL_FLOAT)
//   become RGBA textures of HALF_FLOAT_OES, the form WebGL 1 has; 24-bit depth
//   textures become DEPTH_COMPONENT of UNSIGNED_INT;
// - reading RGB floats reads RGBA and keeps three of each four, and reading
//   colour attachment 1 (chosen with glReadBuffer) goes through a framebuffer
//   of its own, as WebGL 1 reads only attachment 0;
// - WebGL 1 samples a texture whose sides are not powers of two only with
//   clamped coordinates (else it reads black), so such textures get them;
//   desktop GL repeats, which differs only in the outermost pixels;
// - pixel-store settings WebGL 1 does not know are ignored when they ask for
//   the default (0) anyway.
'use strict';

// Extensions the film cannot run without, and what each one gives.
const skywardNeeds = [
  ['OES_texture_half_float', 'half-float textures'],
  ['OES_texture_half_float_linear', 'filtering of half-float textures'],
  ['EXT_color_buffer_half_float', 'drawing into half-float textures'],
  ['WEBGL_draw_buffers', 'drawing into two targets at once'],
  ['WEBGL_depth_texture', 'depth textures'],
  ['OES_element_index_uint', '32-bit vertex indices'],
];

function skywardContext(canvas, keepImage) {
  const attributes = {
    alpha: false, depth: true, stencil: false, antialias: false,
    premultipliedAlpha: false, preserveDrawingBuffer: keepImage,
  };
  const gl = canvas.getContext('webgl', attributes);
  if (!gl) return {error: 'This browser cannot show the film: it has no WebGL (it may be turned off).'};
  for (const [name, purpose] of skywardNeeds) {
    if (!gl.getExtension(name))
      return {error: `This browser cannot show the film: its WebGL lacks ${name} (${purpose}).`};
  }
  gl.getExtension('EXT_texture_filter_anisotropic');
  skywardAdapt(gl);
  return {gl};
}

function skywardAdapt(gl) {
  const HALF_FLOAT_OES = 0x8D61, FLOAT = 0x1406, RGB = 0x1907, RGBA = 0x1908;
  const RGBA16F = 0x881A, RGB16F = 0x881B, DEPTH_COMPONENT = 0x1902, DEPTH_COMPONENT24 = 0x81A6;
  const UNSIGNED_INT = 0x1405, COLOR_ATTACHMENT1 = 0x8CE1;

  const texImage2D = gl.texImage2D.bind(gl);
  gl.texImage2D = function(...args) {
    if (args.length === 9) {
      const internal = args[2], type = args[7];
      if (internal === RGBA16F || internal === RGB16F) {
        args[2] = args[6] = RGBA;
        args[7] = HALF_FLOAT_OES;
        args[8] = null;  // only empty targets are made this way
      } else if (internal === DEPTH_COMPONENT24 || (internal === DEPTH_COMPONENT && type === FLOAT)) {
        args[2] = args[6] = DEPTH_COMPONENT;
        args[7] = UNSIGNED_INT;
        args[8] = null;
      }
    }
    const result = texImage2D(...args);
    if (args.length === 9) {
      const width = args[3], height = args[4];
      if ((width & (width - 1)) || (height & (height - 1))) {
        gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_WRAP_S, gl.CLAMP_TO_EDGE);
        gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_WRAP_T, gl.CLAMP_TO_EDGE);
      }
    }
    return result;
  };

  const pixelStorei = gl.pixelStorei.bind(gl);
  const webgl1Names = new Set([gl.PACK_ALIGNMENT, gl.UNPACK_ALIGNMENT, gl.UNPACK_FLIP_Y_WEBGL,
    gl.UNPACK_PREMULTIPLY_ALPHA_WEBGL, gl.UNPACK_COLORSPACE_CONVERSION_WEBGL]);
  gl.pixelStorei = function(name, value) {
    if (!webgl1Names.has(name) && value === 0) return;
    pixelStorei(name, value);
  };

  let scratch = null;
  const readPixels = gl.readPixels.bind(gl);
  gl.readPixels = function(x, y, width, height, format, type, pixels) {
    let restore = null;
    if (gl.skywardReadBuffer === COLOR_ATTACHMENT1) {
      const bound = gl.getParameter(gl.FRAMEBUFFER_BINDING);
      const texture = gl.getFramebufferAttachmentParameter(
          gl.FRAMEBUFFER, COLOR_ATTACHMENT1, gl.FRAMEBUFFER_ATTACHMENT_OBJECT_NAME);
      scratch = scratch || gl.createFramebuffer();
      gl.bindFramebuffer(gl.FRAMEBUFFER, scratch);
      gl.framebufferTexture2D(gl.FRAMEBUFFER, gl.COLOR_ATTACHMENT0, gl.TEXTURE_2D, texture, 0);
      restore = bound;
    }
    if (format === RGB && type === FLOAT && pixels) {
      const rgba = new Float32Array(width * height * 4);
      readPixels(x, y, width, height, RGBA, FLOAT, rgba);
      for (let i = 0, n = width * height; i < n; ++i) {
        pixels[i * 3] = rgba[i * 4];
        pixels[i * 3 + 1] = rgba[i * 4 + 1];
        pixels[i * 3 + 2] = rgba[i * 4 + 2];
      }
    } else {
      readPixels(x, y, width, height, format, type, pixels);
    }
    if (restore !== null) gl.bindFramebuffer(gl.FRAMEBUFFER, restore);
  };
}
