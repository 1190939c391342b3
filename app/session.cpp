#include "app/session.h"

#include "app/startup.h"

namespace pv::app {

Session::Session(Settings s, Prompter& p, std::unique_ptr<engine::CLead> lead)
    : settings(std::move(s)),
      primaryOwned_(lead ? std::move(lead) : std::make_unique<engine::CLead>()),
      secondaryOwned_(std::make_unique<engine::CLead>()),
      primary(*primaryOwned_),
      secondary(*secondaryOwned_),
      prompter(p) {
  format = createStartFormat(settings);
  filterContext.lead = &primary;
  filterContext.recordedSize = [this](int& width, int& height) {
    if (currentEntry < 0 || static_cast<std::size_t>(currentEntry) >= list.size()) return false;
    const ImageEntry& e = list[static_cast<std::size_t>(currentEntry)];
    width = static_cast<int>(e.width);
    height = static_cast<int>(e.height);
    return true;
  };
  filterContext.inform = [this](const std::string& text) { prompter.information(settings.caption, text); };
}

void Session::setClipboard(Clipboard* clipboard) {
  clipboard_ = clipboard;
  primary.SetClipboardTarget(clipboard);
}

}  // namespace pv::app
