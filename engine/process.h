#pragma once
// The engine's few process-wide settings, made in one place.
//
// The engine holds no global state of its own: every CLead is independent.
// ImageMagick, though, is a library with process-wide state: it is started
// once per process (MagickCoreGenesis), and it reads its policy (resource
// limits and the coders it may use) from the folder MAGICK_CONFIGURE_PATH
// names, an environment variable read by every thread. So the start and the
// policy cannot belong to one CLead or one codec call; they are made here,
// once, before the first use, and stay for the process's life.

namespace pv::engine {

// Writes our policy into a folder of this user's, points ImageMagick at it
// and starts ImageMagick; the first call does it, later calls return at once.
// The policy lifts the distribution's caps on width, height and area (our own
// pixel limit applies instead) and shuts the coders that read other files or
// run programs.
void startMagick();

}  // namespace pv::engine
