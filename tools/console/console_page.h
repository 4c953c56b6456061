// The console's one page: HTML, styles and script in one text, served at "/".
// It fetches nothing from outside (a venue may have no internet): the script
// polls /status.json (the status model, as `rondel status --json`) and
// /live.json (since when, the datagrams, the chart's counts) every two
// seconds and redraws in place. Elements a test looks at carry ids: banner,
// verdict, since, kept-count, datagrams (one row per datagram), filter, chart.
#ifndef RONDEL_TOOLS_CONSOLE_CONSOLE_PAGE_H_
#define RONDEL_TOOLS_CONSOLE_CONSOLE_PAGE_H_

namespace rondel {
namespace tools {

extern const char kConsolePage[];

}  // namespace tools
}  // namespace rondel

#endif  // RONDEL_TOOLS_CONSOLE_CONSOLE_PAGE_H_
