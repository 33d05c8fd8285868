// Node's stand-in for the server's one origin: the room's modules import
// the seat's by absolute path ("/i18n.js"), which the server serves from
// web/seat/; here such a path resolves to that folder.
import { register } from "node:module";

const SEAT = new URL("../../../web/seat/", import.meta.url);

export async function resolve(specifier, context, next) {
  if (specifier.startsWith("/") && !specifier.startsWith("//") &&
      (context.parentURL || "").includes("/web/room/")) {
    return next(new URL(specifier.slice(1), SEAT).href, context);
  }
  return next(specifier, context);
}

// Imported by a test first (then its modules by dynamic import): sets
// this file as the resolve hook.
export function useSeatRoot() {
  register(import.meta.url);
}
