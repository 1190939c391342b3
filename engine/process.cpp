#include "engine/process.h"

#include <magick/MagickCore.h>
#include <opencv2/core.hpp>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>

namespace pv::engine {

namespace {

#if defined(PV_TSAN)
// ThreadSanitizer cannot see the synchronisation inside OpenCV's thread pool
// (TBB, built without it), so in that build OpenCV's parallel loops run on
// the calling thread, and what it reports is about our own threads.
const bool kOpenCvOnCallingThread = (cv::setNumThreads(1), true);
#endif

constexpr const char* kPolicy = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE policymap [
<!ELEMENT policymap (policy)*>
<!ATTLIST policymap xmlns CDATA #FIXED ''>
<!ELEMENT policy EMPTY>
<!ATTLIST policy xmlns CDATA #FIXED '' domain NMTOKEN #REQUIRED name NMTOKEN #IMPLIED pattern CDATA #IMPLIED rights NMTOKEN #IMPLIED stealth NMTOKEN #IMPLIED value CDATA #IMPLIED>
]>
<policymap>
  <policy domain="resource" name="width" value="1000KP"/>
  <policy domain="resource" name="height" value="1000KP"/>
  <policy domain="resource" name="area" value="4GP"/>
  <policy domain="resource" name="memory" value="8GiB"/>
  <policy domain="resource" name="map" value="16GiB"/>
  <policy domain="resource" name="disk" value="64GiB"/>
  <policy domain="coder" rights="none" pattern="{MSL,MVG,SVG,MSVG,TEXT,TXT,URL,HTTP,HTTPS,FTP,EPHEMERAL,SHOW,WIN,X,PLT,SCAN,LABEL,CAPTION,INLINE,HTML}"/>
  <policy domain="delegate" rights="none" pattern="*"/>
  <policy domain="path" rights="none" pattern="@*"/>
</policymap>
)";

}  // namespace

void startMagick() {
  static std::once_flag once;
  std::call_once(once, [] {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string dir = runtime && *runtime ? std::string(runtime) + "/pictoravine-magick"
                                          : "/tmp/pictoravine-magick-" + std::to_string(getuid());
    mkdir(dir.c_str(), 0700);
    struct stat st {};
    if (lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid()) {
      const std::string file = dir + "/policy.xml";
      if (std::ofstream(file + ".new", std::ios::binary | std::ios::trunc) << kPolicy)
        std::rename((file + ".new").c_str(), file.c_str());
      setenv("MAGICK_CONFIGURE_PATH", dir.c_str(), 1);
    }
    MagickCoreGenesis(nullptr, MagickFalse);
  });
}

}  // namespace pv::engine
