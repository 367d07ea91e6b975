// A throw-away bundle around the built host, with a home of its own, for tests that run the
// real host with a kit shell. Nothing outside the bundle's folder is touched.
import { mkdtempSync, mkdirSync, copyFileSync, rmSync, writeFileSync, existsSync } from "node:fs";
import { tmpdir } from "node:os";
import { join, resolve } from "node:path";
import type { Subprocess } from "bun";

export const hostBinary = process.env.MENU_BAR_HOST ?? resolve(import.meta.dir, "../../build/menu-bar-host");
export const identity = "org.example.kit-test";

export interface RuntimeFile { [key: string]: string }

export class TestBundle {
  readonly root = mkdtempSync(join(tmpdir(), "kit-test-"));
  readonly bundle = join(this.root, "KitTest.app");
  readonly executable = join(this.bundle, "Contents", "MacOS", "kit-test");
  readonly home = join(this.root, "home");
  readonly dataFolder = join(this.home, ".local", "share", identity);

  constructor(shell: string, runtime: RuntimeFile) {
    mkdirSync(join(this.bundle, "Contents", "MacOS"), { recursive: true });
    mkdirSync(join(this.bundle, "Contents", "Resources"), { recursive: true });
    mkdirSync(this.home);
    copyFileSync(hostBinary, this.executable);
    Bun.spawnSync(["chmod", "755", this.executable]);
    writeFileSync(join(this.bundle, "Contents", "Info.plist"), infoPlist());
    const file = { bun: process.execPath, shell: resolve(import.meta.dir, "shells", shell), ...runtime };
    writeFileSync(join(this.bundle, "Contents", "Resources", "kit-test-runtime.json"), JSON.stringify(file));
  }

  environment(extra: Record<string, string> = {}): Record<string, string> {
    return {
      HOME: this.home,
      XDG_DATA_HOME: join(this.home, ".local", "share"),
      XDG_CONFIG_HOME: join(this.home, ".config"),
      PATH: "/usr/local/bin:/usr/bin:/bin",
      MENU_BAR_DESKTOP: "headless",
      ...extra,
    };
  }

  remove(): void {
    rmSync(this.root, { recursive: true, force: true });
  }
}

function infoPlist(): string {
  return `<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
<key>CFBundleIdentifier</key><string>${identity}</string>
<key>CFBundleURLTypes</key><array><dict><key>CFBundleURLSchemes</key><array><string>kittest</string></array></dict></array>
</dict></plist>
`;
}

// The host running, with everything it printed so far.
export class RunningHost {
  readonly process: Subprocess<"ignore", "pipe", "pipe">;
  out = "";
  err = "";

  constructor(bundle: TestBundle, extra: Record<string, string> = {}) {
    this.process = Bun.spawn([bundle.executable], { env: bundle.environment(extra), stdin: "ignore", stdout: "pipe", stderr: "pipe" });
    void this.collect(this.process.stdout, (text) => (this.out += text));
    void this.collect(this.process.stderr, (text) => (this.err += text));
  }

  private async collect(stream: ReadableStream<Uint8Array>, add: (text: string) => void): Promise<void> {
    const decoder = new TextDecoder();
    for await (const chunk of stream) add(decoder.decode(chunk, { stream: true }));
  }

  // Waits until the output holds `text`; false when the host ended or 20 s passed without it.
  async printed(text: string): Promise<boolean> {
    return eventually(() => this.out.includes(text));
  }

  async stop(): Promise<void> {
    this.process.kill("SIGTERM");
    const ended = await Promise.race([this.process.exited.then(() => true), Bun.sleep(10_000).then(() => false)]);
    if (!ended) this.process.kill("SIGKILL");
    await this.process.exited;
  }
}

export async function eventually(condition: () => boolean): Promise<boolean> {
  for (let waited = 0; waited < 20_000; waited += 20) {
    if (condition()) return true;
    await Bun.sleep(20);
  }
  return condition();
}

// One request on the host's control socket and its one reply.
export async function askTheHost(socketPath: string, request: object): Promise<unknown> {
  if (!(await eventually(() => existsSync(socketPath)))) throw new Error(`no socket at ${socketPath}`);
  return new Promise((resolveReply, reject) => {
    let pending = "";
    Bun.connect({
      unix: socketPath,
      socket: {
        open(socket) {
          socket.write(JSON.stringify(request) + "\n");
        },
        data(socket, data) {
          pending += data.toString();
          const newline = pending.indexOf("\n");
          if (newline < 0) return;
          socket.end();
          resolveReply(JSON.parse(pending.slice(0, newline)));
        },
        error(_socket, error) {
          reject(error);
        },
      },
    }).catch(reject);
  });
}
