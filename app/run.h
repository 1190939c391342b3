#pragma once
// The conversion run: every image of the list converted on several workers,
// with records, log lines and output numbering in list order, as one worker
// gives them. Each image is an ImageConversion (app/image_conversion.h); a
// job runs the run on its own thread (app/job_runner.h).

#include "app/session.h"

namespace pv::app {

// How many workers convert `images` images at once: Threads, or one per
// core when it is 0, never more than the images.
int workerCount(const Settings& settings, int images);

// Converts every entry of the image list into the current output format, on
// workerCount workers. Records, log lines and output numbering come in list
// order, as one worker gives them; a multi-page source stays with one worker.
// False when an abort or an interrupt stopped it before an image began; a
// stop that comes after the last image began stops nothing.
bool convertAll(Session& session);

}  // namespace pv::app
