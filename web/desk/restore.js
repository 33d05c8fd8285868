// Served with the refusal of a page without its token: a desk page
// reloaded in its tab, whose address no longer carries the token, takes
// the tab's copy of it (desk.js keeps one) and loads again.
"use strict";

const kept = sessionStorage.getItem("wexDeskToken");
if (kept) location.replace("/?token=" + encodeURIComponent(kept));
