#include "engine/lead.h"

#include "engine/status.h"

namespace pv::engine {

short CLead::LoadImage(const std::string&, short, int, int) { return kNotSupported; }

float CLead::GetImageWidth() { return 0.0f; }
float CLead::GetImageHeight() { return 0.0f; }

void CLead::SetSaveInterlaced(bool on) { saveInterlaced_ = on; }
void CLead::SetPhotoshopSaveFlag(bool on) { photoshopSave_ = on; }

short CLead::ResizeImage(float, float, short) { return kNotSupported; }

}  // namespace pv::engine
