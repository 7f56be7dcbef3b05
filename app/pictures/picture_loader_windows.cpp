// Pictures through the Windows Imaging Component: every format the system has a decoder for.

#include <windows.h>
#include <wincodec.h>

#include <cstdint>
#include <vector>

#include "app/pictures/picture_loader.h"
#include "common/wide_text.h"

namespace kuv {
namespace {

constexpr std::uint64_t kMaxDots = 16 * 1024 * 1024;

// Releases a COM interface with its scope.
template <typename T>
class Com {
 public:
  Com() = default;
  Com(const Com&) = delete;
  Com& operator=(const Com&) = delete;
  ~Com() {
    if (p_) p_->Release();
  }
  T** out() { return &p_; }
  T* operator->() const { return p_; }
  T* get() const { return p_; }

 private:
  T* p_ = nullptr;
};

// COM for this thread for the call's length, unless the thread has it already in another model.
class ComScope {
 public:
  ComScope() : result_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  HRESULT result_;
};

std::string Failure(const std::string& path, const char* step, HRESULT result) {
  return path + ": " + step + ": " + SystemErrorText(static_cast<unsigned long>(result));
}

}  // namespace

std::optional<GreyImage> LoadGreyImage(const std::string& path, std::string& error) {
  ComScope com;
  Com<IWICImagingFactory> factory;
  HRESULT result = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_PPV_ARGS(factory.out()));
  if (FAILED(result)) {
    error = Failure(path, "no imaging component", result);
    return std::nullopt;
  }
  Com<IWICBitmapDecoder> decoder;
  result = factory->CreateDecoderFromFilename(WideText(path).c_str(), nullptr, GENERIC_READ,
                                              WICDecodeMetadataCacheOnDemand, decoder.out());
  if (FAILED(result)) {
    error = Failure(path, "cannot read the picture", result);
    return std::nullopt;
  }
  Com<IWICBitmapFrameDecode> frame;
  result = decoder->GetFrame(0, frame.out());
  UINT width = 0;
  UINT height = 0;
  if (SUCCEEDED(result)) result = frame->GetSize(&width, &height);
  if (FAILED(result)) {
    error = Failure(path, "cannot read the picture", result);
    return std::nullopt;
  }
  // Checked before any dot is decoded, so a hostile header costs nothing.
  if (width == 0 || height == 0 || static_cast<std::uint64_t>(width) * height > kMaxDots) {
    error = path + ": picture too large";
    return std::nullopt;
  }
  Com<IWICFormatConverter> converter;
  result = factory->CreateFormatConverter(converter.out());
  if (SUCCEEDED(result)) {
    // Straight (not premultiplied) alpha, as the Qt loader sees it.
    result = converter->Initialize(frame.get(), GUID_WICPixelFormat32bppBGRA,
                                   WICBitmapDitherTypeNone, nullptr, 0.0,
                                   WICBitmapPaletteTypeCustom);
  }
  std::vector<BYTE> dots(static_cast<std::size_t>(width) * height * 4);
  if (SUCCEEDED(result)) {
    result = converter->CopyPixels(nullptr, width * 4, static_cast<UINT>(dots.size()), dots.data());
  }
  if (FAILED(result)) {
    error = Failure(path, "cannot decode the picture", result);
    return std::nullopt;
  }
  GreyImage grey;
  grey.width = static_cast<int>(width);
  grey.height = static_cast<int>(height);
  grey.grey.resize(static_cast<std::size_t>(width) * height);
  for (std::size_t i = 0; i < grey.grey.size(); ++i) {
    const BYTE* bgra = &dots[i * 4];
    grey.grey[i] = GreyOverWhite(bgra[2], bgra[1], bgra[0], bgra[3]);
  }
  return grey;
}

}  // namespace kuv
