#include "engine/capabilities.h"

#include "engine/codecs/table.h"

namespace pv::engine {

WriterInfo writerOf(int code) {
  const codecs::Codec* c = codecs::codecWriting(code);
  if (!c) return {"", "not built yet"};
  if (!c->save) return {"", std::string(c->refusal)};
  if (c->missing)
    if (std::string why = c->missing(); !why.empty()) return {"", why};
  return {c->writer, ""};
}

std::string_view readerOf(std::string_view ext) {
  for (const codecs::Codec& c : codecs::codecTable())
    if (c.sniff && c.servesExt(ext)) return c.reader;
  return "";
}

bool writesPageByPage(int code) {
  const codecs::Codec* c = codecs::codecWriting(code);
  return c && c->openWriter;
}

double encoderBytesPerPixel(int code, int effort) {
  const codecs::Codec* c = codecs::codecWriting(code);
  return c && c->workingBytes ? c->workingBytes(code, effort) : 4;
}

bool holdsResolutions(std::string_view ext) {
  for (const codecs::Codec& c : codecs::codecTable())
    if (c.holdsResolutions(ext)) return true;
  return false;
}

}  // namespace pv::engine
