// The line channel with the host: standard input cut into whole lines (a line split across
// reads, or a character split across chunks, waits for the rest), and whole lines written to
// standard output in one write each, so the host never sees half a message.

import type { ShellMessage } from "./messages.ts";

// Cuts text into lines. What follows the last line feed waits for the next push.
export class LineSplitter {
  private pending = "";
  private readonly decoder = new TextDecoder();

  // The complete lines in `chunk` and what was pending, without their line feeds.
  push(chunk: Uint8Array | string): string[] {
    this.pending += typeof chunk === "string" ? chunk : this.decoder.decode(chunk, { stream: true });
    const lines = this.pending.split("\n");
    this.pending = lines.pop() ?? "";
    return lines;
  }

  // At the end of the input: the unfinished last line, if any.
  finish(): string | undefined {
    this.pending += this.decoder.decode();
    const rest = this.pending;
    this.pending = "";
    return rest === "" ? undefined : rest;
  }
}

// Calls `onLine` for each line of `input`, in order, and resolves when the input ends.
export async function readLines(input: AsyncIterable<Uint8Array | string>, onLine: (line: string) => void): Promise<void> {
  const splitter = new LineSplitter();
  for await (const chunk of input) {
    for (const line of splitter.push(chunk)) onLine(line);
  }
  const last = splitter.finish();
  if (last !== undefined) onLine(last);
}

export interface LineWriter { write(text: string): unknown }

// One message as one line. A line feed inside a string is escaped by JSON, so it stays one line.
export function lineOf(message: ShellMessage): string {
  return JSON.stringify(message) + "\n";
}

export function sendTo(writer: LineWriter, message: ShellMessage): void {
  writer.write(lineOf(message));
}
