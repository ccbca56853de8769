// Keeps the widget library non-empty until its first sources land.
namespace dmm_display_detail { int placeholder = 0; }
