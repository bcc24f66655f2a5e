// TGatheredStream: the held bytes and when they pass on to the target stream.
#include "GatheredStream.h"

namespace velmora {

long TGatheredStream::Write(const void* buffer, long count) {
    if (count <= 0) return 0;
    const auto size = static_cast<size_t>(count);
    if (FHeld.size() + size > FLimit && !Flush()) return 0;
    if (size >= FLimit) return FTarget->Write(buffer, count);
    FHeld.append(static_cast<const char*>(buffer), size);
    return count;
}

int64_t TGatheredStream::Seek(int64_t offset, TSeekOrigin origin) {
    Flush();
    return FTarget->Seek(offset, origin);
}

void TGatheredStream::SetSize(int64_t size) {
    Flush();
    FTarget->SetSize(size);
}

bool TGatheredStream::Flush() {
    if (FHeld.empty()) return true;
    const long want = static_cast<long>(FHeld.size());
    const bool all = FTarget->Write(FHeld.data(), want) == want;
    FHeld.clear();
    return all;
}

}  // namespace velmora
