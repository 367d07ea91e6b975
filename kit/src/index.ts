// The kit for shells of menu-bar-host: typed messages, the line channel, menu builders and a
// Shell that ties them together.
export * from "./messages.ts";
export * from "./channel.ts";
export * from "./menu.ts";
export * from "./environment.ts";
export * from "./shell.ts";
