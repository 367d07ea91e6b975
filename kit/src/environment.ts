// What the host tells the shell through its environment. The names start with the unit's
// prefix: the runtime file "my-app-runtime.json" gives the unit my-app and the prefix MY_APP_.

export type Environment = Record<string, string | undefined>;

export interface HostEnvironment {
  prefix: string;                  // "MY_APP_"
  launcherPid: number;             // the host's pid
  bundlePath: string;              // the .app folder
  reopenReadySignal: string;       // "USR2": the signal that says the shell takes reopen requests
  hosted: boolean;                 // the parent process hosts the app (no status item)
  logRoot?: string;                // runtime "logs"
  socketPath?: string;             // runtime "socket"
  copyOutputDir?: string;          // runtime "copy"
  temporary: boolean;              // runtime "temporary": "true"
  dataHome?: string;               // runtime "data", as WICKERLY_HOME
  viewsLibrary?: string;           // SWIFT_VIEWS_DYLIB
}

const LAUNCHER = "LAUNCHER_PID";

export function prefixOfUnit(unit: string): string {
  return unit.toUpperCase().replaceAll("-", "_") + "_";
}

// The prefix whose launcher pid is `parentPid`, else the only one there is.
export function discoverPrefix(env: Environment, parentPid?: number): string | undefined {
  const prefixes = Object.keys(env)
    .filter((name) => name.endsWith(LAUNCHER) && env[`${name.slice(0, -LAUNCHER.length)}BUNDLE_PATH`] !== undefined)
    .map((name) => name.slice(0, -LAUNCHER.length));
  const parent = prefixes.find((prefix) => parentPid !== undefined && env[prefix + LAUNCHER] === String(parentPid));
  if (parent !== undefined) return parent;
  return prefixes.length === 1 ? prefixes[0] : undefined;
}

// The host's variables; undefined when the shell was not started by a host (or `unit` is wrong).
export function hostEnvironment(env: Environment, options: { unit?: string; parentPid?: number } = {}): HostEnvironment | undefined {
  const prefix = options.unit !== undefined ? prefixOfUnit(options.unit) : discoverPrefix(env, options.parentPid);
  if (prefix === undefined) return undefined;
  const launcherPid = Number(env[prefix + LAUNCHER]);
  const bundlePath = env[prefix + "BUNDLE_PATH"];
  if (!Number.isInteger(launcherPid) || launcherPid <= 0 || bundlePath === undefined) return undefined;
  const found: HostEnvironment = {
    prefix,
    launcherPid,
    bundlePath,
    reopenReadySignal: env[prefix + "REOPEN_READY_SIGNAL"] ?? "USR2",
    hosted: env[prefix + "HOSTED"] === "1",
    temporary: env[prefix + "TEMPORARY"] === "1",
  };
  const optional = {
    logRoot: env[prefix + "LOG_ROOT"],
    socketPath: env[prefix + "SOCKET_PATH"],
    copyOutputDir: env[prefix + "COPY_OUTPUT_DIR"],
    dataHome: env.WICKERLY_HOME,
    viewsLibrary: env.SWIFT_VIEWS_DYLIB,
  };
  for (const [key, value] of Object.entries(optional) as [keyof typeof optional, string | undefined][]) {
    if (value !== undefined) found[key] = value;
  }
  return found;
}
