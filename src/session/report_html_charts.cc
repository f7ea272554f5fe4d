#include <algorithm>
#include <cstdio>

#include "session/progress_model.h"
#include "session/report_html_parts.h"

// The HTML report's charts, drawn as inline SVG: nothing to fetch, nothing
// to run, and they print as sharply as the text.

namespace vm {

namespace {

constexpr int kWidth = 720;
constexpr int kLabel = 200;  // the names' column
constexpr int kRow = 18;
constexpr size_t kMostDomains = 30;

std::string Number(double n) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.1f", n);
  return text;
}

// One horizontal bar with its label and its value's text.
void Bar(HtmlOut* out, int row, const std::string& label, double share,
         const std::string& value, const char* color) {
  const int y = row * kRow;
  const double length = share * (kWidth - kLabel - 110);
  *out << "<text x=\"" << int64_t{kLabel - 6} << "\" y=\"" << int64_t{y + 13}
       << "\" text-anchor=\"end\">" << label << "</text><rect x=\""
       << int64_t{kLabel} << "\" y=\"" << int64_t{y + 3} << "\" width=\""
       << Number(length) << "\" height=\"12\" fill=\"" << color
       << "\"/><text x=\"" << Number(kLabel + length + 4) << "\" y=\""
       << int64_t{y + 13} << "\">" << value << "</text>\n";
}

void OpenChart(HtmlOut* out, const char* title, size_t rows) {
  *out << "<figure><figcaption>" << title
       << "</figcaption><svg xmlns=\"http://www.w3.org/2000/svg\" width=\""
       << int64_t{kWidth} << "\" height=\""
       << static_cast<int64_t>(rows * kRow + 4) << "\" viewBox=\"0 0 "
       << int64_t{kWidth} << " " << static_cast<int64_t>(rows * kRow + 4)
       << "\" role=\"img\">\n";
}

void CloseChart(HtmlOut* out) { *out << "</svg></figure>\n"; }

}  // namespace

std::string SizeText(uint64_t bytes) {
  const char* units[] = {"B", "KB", "MB", "GB", "TB"};
  double n = static_cast<double>(bytes);
  int unit = 0;
  while (n >= 1024 && unit < 4) {
    n /= 1024;
    ++unit;
  }
  return unit == 0 ? std::to_string(bytes) + " B"
                   : Number(n) + " " + units[unit];
}

void WriteDomainCharts(HtmlOut* out,
                       const std::vector<HtmlDomainSum>& domains) {
  std::vector<const HtmlDomainSum*> most;
  for (const HtmlDomainSum& d : domains) most.push_back(&d);
  const auto larger = [](const HtmlDomainSum* a, const HtmlDomainSum* b) {
    return a->sum.counts.messages > b->sum.counts.messages;
  };
  std::stable_sort(most.begin(), most.end(), larger);
  if (most.size() > kMostDomains) most.resize(kMostDomains);
  int64_t top_messages = 1;
  uint64_t top_bytes = 1;
  for (const HtmlDomainSum* d : most) {
    const FolderCounts& n = d->sum.counts;
    top_messages = std::max(top_messages, n.copied + n.present);
    top_bytes = std::max(top_bytes, n.copied_bytes);
  }
  OpenChart(out, "各域名的邮件：复制的和已在目标中的", most.size());
  for (size_t i = 0; i < most.size(); ++i) {
    const FolderCounts& n = most[i]->sum.counts;
    Bar(out, static_cast<int>(i), most[i]->name,
        static_cast<double>(n.copied + n.present) / top_messages,
        std::to_string(n.copied) + " + " + std::to_string(n.present),
        "#3b6ea8");
  }
  CloseChart(out);
  OpenChart(out, "各域名复制的字节", most.size());
  for (size_t i = 0; i < most.size(); ++i) {
    const FolderCounts& n = most[i]->sum.counts;
    Bar(out, static_cast<int>(i), most[i]->name,
        static_cast<double>(n.copied_bytes) / static_cast<double>(top_bytes),
        SizeText(n.copied_bytes), "#5a8f3c");
  }
  CloseChart(out);
  if (domains.size() > most.size()) {
    *out << "<p>图中是邮件最多的 " << static_cast<int64_t>(most.size())
         << " 个域名；全部 " << static_cast<int64_t>(domains.size())
         << " 个域名见下面的表。</p>\n";
  }
}

void WriteOutcomeChart(
    HtmlOut* out, const std::vector<std::pair<std::string, int64_t>>& bars) {
  int64_t top = 1;
  for (const auto& bar : bars) top = std::max(top, bar.second);
  OpenChart(out, "各结果的帐户数", bars.size());
  for (size_t i = 0; i < bars.size(); ++i) {
    Bar(out, static_cast<int>(i), bars[i].first,
        static_cast<double>(bars[i].second) / static_cast<double>(top),
        std::to_string(bars[i].second), "#8a6bb0");
  }
  CloseChart(out);
}

void WriteProgressChart(HtmlOut* out,
                        const std::vector<ProgressPoint>& points) {
  if (points.size() < 2) return;  // a run too short to draw
  constexpr int kHeight = 200, kLeft = 60, kBottom = 24;
  // A run shorter than the drawing's resolution still spans the axis.
  const double end = std::max(points.back().seconds, 1e-3);
  int64_t top = 1;
  for (const ProgressPoint& p : points) top = std::max(top, p.copied);
  *out << "<figure><figcaption>复制的邮件数随时间的变化</figcaption>"
          "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\""
       << int64_t{kWidth} << "\" height=\"" << int64_t{kHeight}
       << "\" viewBox=\"0 0 " << int64_t{kWidth} << " " << int64_t{kHeight}
       << "\" role=\"img\"><path d=\"M" << int64_t{kLeft} << " 4V"
       << int64_t{kHeight - kBottom} << "H" << int64_t{kWidth - 4}
       << "\" stroke=\"#999\" fill=\"none\"/><text x=\"" << int64_t{kLeft - 4}
       << "\" y=\"14\" text-anchor=\"end\">" << top << "</text><text x=\""
       << int64_t{kLeft - 4} << "\" y=\"" << int64_t{kHeight - kBottom}
       << "\" text-anchor=\"end\">0</text><text x=\"" << int64_t{kWidth - 4}
       << "\" y=\"" << int64_t{kHeight - 6} << "\" text-anchor=\"end\">"
       << DurationText(points.back().seconds)
       << "</text><polyline fill=\"none\" "
       << "stroke=\"#3b6ea8\" stroke-width=\"1.5\" points=\"";
  const double w = kWidth - 4 - kLeft, h = kHeight - kBottom - 4;
  for (const ProgressPoint& p : points) {
    *out << Number(kLeft + w * p.seconds / end) << ","
         << Number(kHeight - kBottom - h * static_cast<double>(p.copied) / top)
         << " ";
  }
  *out << "\"/></svg></figure>\n";
}

}  // namespace vm
