#include "RtcmDecoder.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace tarvikclient {

std::uint32_t Crc24q(const std::uint8_t* data, std::size_t size) {
  std::uint32_t crc = 0;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= static_cast<std::uint32_t>(data[i]) << 16;
    for (int b = 0; b < 8; ++b) {
      crc <<= 1;
      if (crc & 0x1000000u) crc ^= 0x1864CFBu;
    }
  }
  return crc & 0xFFFFFFu;
}

std::uint64_t BitReader::Unsigned(int width) {
  std::uint64_t v = 0;
  for (int i = 0; i < width; ++i, ++pos_) {
    unsigned bit = 0;
    if (pos_ / 8 < size_) {
      bit = (data_[pos_ / 8] >> (7 - pos_ % 8)) & 1u;
    } else {
      overrun_ = true;
    }
    v = (v << 1) | bit;
  }
  return v;
}

std::int64_t BitReader::Signed(int width) {
  std::uint64_t v = Unsigned(width);
  if (width > 0 && width < 64 && (v >> (width - 1)) & 1u) {
    v |= ~std::uint64_t{0} << width;  // sign extension
  }
  return static_cast<std::int64_t>(v);
}

const Field* DecodedMessage::Find(const std::string& name) const {
  for (const auto& f : fields)
    if (f.name == name) return &f;
  return nullptr;
}

double DecodedMessage::Value(const std::string& name) const {
  const Field* f = Find(name);
  return f ? f->value : std::numeric_limits<double>::quiet_NaN();
}

namespace {

class MessageReader {
 public:
  MessageReader(BitReader& bits, DecodedMessage& out) : bits_(bits), out_(out) {}

  std::int64_t U(const char* name, int width, double scale = 1.0, double offset = 0.0,
                 const char* unit = "") {
    auto raw = static_cast<std::int64_t>(bits_.Unsigned(width));
    Add(name, raw, static_cast<double>(raw) * scale + offset, unit);
    return raw;
  }
  std::int64_t S(const char* name, int width, double scale = 1.0, const char* unit = "") {
    std::int64_t raw = bits_.Signed(width);
    Add(name, raw, static_cast<double>(raw) * scale, unit);
    return raw;
  }
  void Text(const char* name, std::int64_t count) {
    Field f;
    f.name = name;
    f.raw = count;
    for (std::int64_t i = 0; i < count; ++i) f.text.push_back(static_cast<char>(bits_.Unsigned(8)));
    out_.fields.push_back(std::move(f));
  }
  // The 10 flags of 1021, shown the way a configuration file writes them:
  // first character for 1023, the field's last bit.
  void InvolvedMessages() {
    std::uint64_t raw = bits_.Unsigned(10);
    Field f;
    f.name = "InvolvedTransformationMessages";
    f.raw = static_cast<std::int64_t>(raw);
    for (int i = 0; i < 10; ++i) f.text.push_back(((raw >> i) & 1u) ? '1' : '0');
    out_.fields.push_back(std::move(f));
  }

 private:
  void Add(const char* name, std::int64_t raw, double value, const char* unit) {
    Field f;
    f.name = name;
    f.raw = raw;
    f.value = value;
    f.unit = unit;
    out_.fields.push_back(std::move(f));
  }
  BitReader& bits_;
  DecodedMessage& out_;
};

// The signed 34/35-bit fields of 1025 are in units of 0.000000011 degrees.
constexpr double kProjectionAngleUnit = 0.000000011;

void Decode1021(MessageReader& r) {
  std::int64_t n = r.U("SourceNameCounter", 5);
  r.Text("SourceName", n);
  n = r.U("TargetNameCounter", 5);
  r.Text("TargetName", n);
  r.U("SystemIdentificationNumber", 8);
  r.InvolvedMessages();
  r.U("PlateNumber", 5);
  r.U("ComputationIndicator", 4);
  r.U("HeightIndicator", 2);
  r.S("LatitudeOfOriginAreaOfValidity", 19, 1.0 / 1800, "deg");
  r.S("LongitudeOfOriginAreaOfValidity", 20, 1.0 / 1800, "deg");
  r.U("LatitudeExtensionAreaOfValidity", 14, 1.0 / 1800, 0.0, "deg");
  r.U("LongitudeExtensionAreaOfValidity", 14, 1.0 / 1800, 0.0, "deg");
  r.S("DX", 23, 0.001, "m");
  r.S("DY", 23, 0.001, "m");
  r.S("DZ", 23, 0.001, "m");
  r.S("R1", 32, 0.00002, "arcsec");
  r.S("R2", 32, 0.00002, "arcsec");
  r.S("R3", 32, 0.00002, "arcsec");
  r.S("dS", 25, 0.00001, "ppm");
  r.U("SemimajorAxisOfSourceSystemEllipsoid", 24, 0.001, 6370000.0, "m");
  r.U("SemiminorAxisOfSourceSystemEllipsoid", 25, 0.001, 6350000.0, "m");
  r.U("SemimajorAxisOfTargetSystemEllipsoid", 24, 0.001, 6370000.0, "m");
  r.U("SemiminorAxisOfTargetSystemEllipsoid", 25, 0.001, 6350000.0, "m");
  r.U("HorizontalHelmertMolodenskiQualityIndicator", 3);
  r.U("VerticalHelmertMolodenskiQualityIndicator", 3);
}

void Decode1023(MessageReader& r) {
  r.U("SystemIdentificationNumber", 8);
  r.U("HorizontalShiftIndicator", 1);
  r.U("VerticalShiftIndicator", 1);
  r.S("GridOriginLatitude", 21, 1.0 / 7200, "deg");
  r.S("GridOriginLongitude", 22, 1.0 / 7200, "deg");
  r.U("GridExtensionLatitude", 12, 1.0 / 7200, 0.0, "deg");
  r.U("GridExtensionLongitude", 12, 1.0 / 7200, 0.0, "deg");
  r.S("MeanLatitudeOffset", 8, 0.001, "arcsec");
  r.S("MeanLongitudeOffset", 8, 0.001, "arcsec");
  r.S("MeanHeightOffset", 15, 0.01, "m");
  for (int i = 1; i <= 16; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "dLatitude[%d]", i);
    r.S(name, 9, 0.00003, "arcsec");
    std::snprintf(name, sizeof name, "dLongitude[%d]", i);
    r.S(name, 9, 0.00003, "arcsec");
    std::snprintf(name, sizeof name, "dHeight[%d]", i);
    r.S(name, 9, 0.001, "m");
  }
  r.U("HorizontalInterpolationMethodIndicator", 2);
  r.U("VerticalInterpolationMethodIndicator", 2);
  r.U("HorizontalGridQualityIndicator", 3);
  r.U("VerticalGridQualityIndicator", 3);
  r.U("ModifiedJulianDayNumber", 16, 1.0, 0.0, "day");
}

void Decode1025(MessageReader& r) {
  r.U("SystemIdentificationNumber", 8);
  r.U("ProjectionType", 6);
  r.S("LatitudeOfNaturalOrigin", 34, kProjectionAngleUnit, "deg");
  r.S("LongitudeOfNaturalOrigin", 35, kProjectionAngleUnit, "deg");
  // Units of 0.00001 ppm above 993000 ppm; shown as the plain factor.
  r.U("ScaleFactorAtNaturalOrigin", 30, 1e-11, 0.993, "");
  r.U("FalseEasting", 36, 0.001, 0.0, "m");
  r.S("FalseNorthing", 35, 0.001, "m");
}

}  // namespace

DecodedMessage DecodeMessage(const std::uint8_t* body, std::size_t size) {
  DecodedMessage out;
  BitReader bits(body, size);
  MessageReader r(bits, out);
  out.number = static_cast<int>(r.U("MessageNumber", 12));
  std::size_t expectedBits = 0;
  switch (out.number) {
    case 1021:
      Decode1021(r);
      expectedBits = 412 + 8 * static_cast<std::size_t>(out.Find("SourceNameCounter")->raw +
                                                        out.Find("TargetNameCounter")->raw);
      break;
    case 1023:
      Decode1023(r);
      expectedBits = 578;
      break;
    case 1025:
      Decode1025(r);
      expectedBits = 196;
      break;
    default:
      out.problems.push_back("message " + std::to_string(out.number) + " is not decoded");
      return out;
  }
  if (bits.Overrun()) {
    out.problems.push_back("message body is shorter than its fields (" + std::to_string(size) + " bytes)");
  } else if ((expectedBits + 7) / 8 != size) {
    out.problems.push_back("message body has " + std::to_string(size) + " bytes, its fields need " +
                           std::to_string((expectedBits + 7) / 8));
  }
  return out;
}

std::optional<Frame> DecodeFrame(const std::vector<std::uint8_t>& bytes) {
  if (bytes.size() < 6 || bytes[0] != 0xD3 || (bytes[1] & 0xFC) != 0) return std::nullopt;
  unsigned length = ((bytes[1] & 0x03u) << 8) | bytes[2];
  if (bytes.size() != length + 6u) return std::nullopt;
  Frame f;
  f.bytes = bytes;
  f.length = length;
  std::uint32_t crc =
      (std::uint32_t{bytes[length + 3]} << 16) | (std::uint32_t{bytes[length + 4]} << 8) | bytes[length + 5];
  f.crcOk = Crc24q(bytes.data(), length + 3) == crc;
  if (f.crcOk) f.message = DecodeMessage(bytes.data() + 3, length);
  return f;
}

std::string FormatFrame(const Frame& frame) {
  std::string out;
  char line[256];
  std::snprintf(line, sizeof line, "RTCM 3 frame, %zu bytes (message length %u), CRC-24Q %s\n",
                frame.bytes.size(), frame.length, frame.crcOk ? "ok" : "WRONG");
  out += line;
  if (!frame.crcOk) {
    out += "  bytes:";
    for (auto b : frame.bytes) {
      std::snprintf(line, sizeof line, " %02X", b);
      out += line;
    }
    out += "\n";
    return out;
  }
  for (const auto& f : frame.message.fields) {
    if (!f.text.empty() || f.name == "SourceName" || f.name == "TargetName") {
      std::snprintf(line, sizeof line, "  %-44s \"%s\"\n", f.name.c_str(), f.text.c_str());
    } else if (f.unit.empty() && std::floor(f.value) == f.value && f.name != "ScaleFactorAtNaturalOrigin") {
      std::snprintf(line, sizeof line, "  %-44s %lld\n", f.name.c_str(), static_cast<long long>(f.raw));
    } else {
      std::snprintf(line, sizeof line, "  %-44s %.9g %s  (raw %lld)\n", f.name.c_str(), f.value,
                    f.unit.c_str(), static_cast<long long>(f.raw));
    }
    out += line;
  }
  for (const auto& p : frame.message.problems) out += "  problem: " + p + "\n";
  return out;
}

}  // namespace tarvikclient
